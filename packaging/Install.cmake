# What `cmake --install` puts where: the provider, the utility library and the
# virtual token library in the library folder, zt-admin among the programs, a
# p11-kit module file so that p11-kit-aware applications find the provider,
# and a sample configuration naming the installed virtual token library.
#
# The prefix is often given only at install time (`cmake --install DIR
# --prefix /usr`), so the library folder and the paths written into the module
# file and the sample configuration are worked out when the install runs, from
# the prefix it uses: `lib/<multiarch>` under /usr on Debian, as
# GNUInstallDirs would choose, `lib` elsewhere. A CMAKE_INSTALL_LIBDIR given
# at configure time is kept as it is.
include(GNUInstallDirs)

# The library folder GNUInstallDirs picks for the prefix /usr and for others.
set(QUILLON_LIBDIR_OTHERS lib)
if(CMAKE_LIBRARY_ARCHITECTURE AND EXISTS /etc/debian_version)
  set(QUILLON_LIBDIR_USR lib/${CMAKE_LIBRARY_ARCHITECTURE})
else()
  set(QUILLON_LIBDIR_USR ${CMAKE_INSTALL_LIBDIR})
  set(QUILLON_LIBDIR_OTHERS ${CMAKE_INSTALL_LIBDIR})
endif()
if(CMAKE_INSTALL_PREFIX MATCHES "^/usr/?$")
  set(QUILLON_LIBDIR_DEFAULT ${QUILLON_LIBDIR_USR})
else()
  set(QUILLON_LIBDIR_DEFAULT ${QUILLON_LIBDIR_OTHERS})
endif()
if(CMAKE_INSTALL_LIBDIR STREQUAL QUILLON_LIBDIR_DEFAULT)
  set(QUILLON_LIBDIR_CHOSEN "")
else()
  set(QUILLON_LIBDIR_CHOSEN ${CMAKE_INSTALL_LIBDIR})
endif()

# Runs first in the install script: sets QUILLON_LIBDIR (relative to the
# prefix, or absolute) and QUILLON_FULL_LIBDIR for the rules below.
install(CODE "
  if(\"${QUILLON_LIBDIR_CHOSEN}\" STREQUAL \"\")
    if(CMAKE_INSTALL_PREFIX MATCHES \"^/usr/?$\")
      set(QUILLON_LIBDIR \"${QUILLON_LIBDIR_USR}\")
    else()
      set(QUILLON_LIBDIR \"${QUILLON_LIBDIR_OTHERS}\")
    endif()
  else()
    set(QUILLON_LIBDIR \"${QUILLON_LIBDIR_CHOSEN}\")
  endif()
  if(IS_ABSOLUTE \"\${QUILLON_LIBDIR}\")
    set(QUILLON_FULL_LIBDIR \"\${QUILLON_LIBDIR}\")
  else()
    string(REGEX REPLACE \"/+$\" \"\" _quillon_prefix \"\${CMAKE_INSTALL_PREFIX}\")
    set(QUILLON_FULL_LIBDIR \"\${_quillon_prefix}/\${QUILLON_LIBDIR}\")
  endif()
  message(STATUS \"Library folder: \${QUILLON_FULL_LIBDIR}\")
")

# Installed libraries find liborl2 beside themselves.
foreach(target quillon zt)
  if(TARGET ${target})
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${target} LIBRARY DESTINATION \${QUILLON_LIBDIR}
                              RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
install(TARGETS orl2 LIBRARY DESTINATION \${QUILLON_LIBDIR}
                     RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET zt-admin)
  # zt-admin is self-contained (the store code is linked in statically).
  install(TARGETS zt-admin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(NOT WIN32)
  # The module file and the sample configuration name the installed files:
  # written when the install runs, then installed.
  set(QUILLON_GENERATED ${PROJECT_BINARY_DIR}/packaging)
  install(CODE "
    set(QUILLON_INSTALLED_MODULE \"\${QUILLON_FULL_LIBDIR}/libquillon.so\")
    set(QUILLON_INSTALLED_ZT \"\${QUILLON_FULL_LIBDIR}/libzt.so\")
    foreach(pair \"quillon.module.in;quillon.module\" \"quillon.conf.in;quillon.conf.sample\")
      list(GET pair 0 from)
      list(GET pair 1 to)
      file(READ \"${CMAKE_CURRENT_LIST_DIR}/\${from}\" text)
      string(CONFIGURE \"\${text}\" text @ONLY)
      file(WRITE \"${QUILLON_GENERATED}/\${to}\" \"\${text}\")
    endforeach()
  ")
  install(FILES ${QUILLON_GENERATED}/quillon.module
          DESTINATION ${CMAKE_INSTALL_DATADIR}/p11-kit/modules)
  install(FILES ${QUILLON_GENERATED}/quillon.conf.sample
          DESTINATION ${CMAKE_INSTALL_DATADIR}/quillon)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/usage.md DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)
endif()
