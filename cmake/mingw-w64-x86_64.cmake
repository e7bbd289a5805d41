# Cross-compiling for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64-posix).
# The posix-thread compilers give std::thread and std::mutex; everything is
# linked statically so that the DLLs and executables need only system DLLs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# A DLL without dllexport exports all its symbols; those of the statically
# linked runtime (libgcc's _Unwind_Resume, winpthreads) and of Crypto++ must
# stay out, or every module linking that DLL gets them twice. (Not ALL: the
# Makefile generator hands a DLL's own objects to the linker as an archive.)
set(QUILLON_STATIC_RUNTIME_LIBS libgcc.a:libgcc_eh.a:libstdc++.a:libwinpthread.a:libpthread.a:libssp.a:libcryptopp.a)
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--exclude-libs,${QUILLON_STATIC_RUNTIME_LIBS}")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -Wl,--exclude-libs,${QUILLON_STATIC_RUNTIME_LIBS}")

# Tests run under Wine unless the caller names another runner.
if(NOT DEFINED CMAKE_CROSSCOMPILING_EMULATOR)
  find_program(QUILLON_WINE NAMES wine wine64)
  if(QUILLON_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLON_WINE})
  endif()
endif()
