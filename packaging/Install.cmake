# What `cmake --install` puts where: the provider, the utility library and the
# virtual token library in the library folder, zt-admin among the programs, a
# p11-kit module file so that p11-kit-aware applications find the provider,
# and a sample configuration naming the installed virtual token library.
include(GNUInstallDirs)

# Installed libraries find liborl2 beside themselves; zt-admin finds it in the
# library folder.
file(RELATIVE_PATH QUILLON_BIN_TO_LIB ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
foreach(target quillon zt)
  if(TARGET ${target})
    set_target_properties(${target} PROPERTIES INSTALL_RPATH "$ORIGIN")
    install(TARGETS ${target} LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
                              RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
install(TARGETS orl2 LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
                     RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(TARGET zt-admin)
  set_target_properties(zt-admin PROPERTIES INSTALL_RPATH "$ORIGIN/${QUILLON_BIN_TO_LIB}")
  install(TARGETS zt-admin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()

if(NOT WIN32)
  set(QUILLON_INSTALLED_MODULE ${CMAKE_INSTALL_FULL_LIBDIR}/libquillon.so)
  set(QUILLON_INSTALLED_ZT ${CMAKE_INSTALL_FULL_LIBDIR}/libzt.so)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/quillon.module.in
                 ${PROJECT_BINARY_DIR}/packaging/quillon.module @ONLY)
  configure_file(${CMAKE_CURRENT_LIST_DIR}/quillon.conf.in
                 ${PROJECT_BINARY_DIR}/packaging/quillon.conf.sample @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/quillon.module
          DESTINATION ${CMAKE_INSTALL_DATADIR}/p11-kit/modules)
  install(FILES ${PROJECT_BINARY_DIR}/packaging/quillon.conf.sample
          DESTINATION ${CMAKE_INSTALL_DATADIR}/quillon)
  install(FILES ${PROJECT_SOURCE_DIR}/docs/usage.md DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)
endif()
