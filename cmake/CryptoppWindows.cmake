# Crypto++ for the Windows build, as the target `cryptopp` that the rest of the
# build links. Either a prebuilt static library (QUILLON_CRYPTOPP_ROOT with
# include/cryptopp/*.h and lib/libcryptopp.a, as cmake/cryptopp installs it), or
# built here from the unpacked Debian source (QUILLON_CRYPTOPP_SOURCE).
# scripts/windows/fetch-cryptopp.sh fetches and unpacks that source.
set(QUILLON_CRYPTOPP_ROOT "" CACHE PATH "Prebuilt Windows Crypto++ (include/ and lib/)")
set(QUILLON_CRYPTOPP_SOURCE "" CACHE PATH "Unpacked libcrypto++ source package")

if(QUILLON_CRYPTOPP_ROOT)
  if(NOT EXISTS ${QUILLON_CRYPTOPP_ROOT}/lib/libcryptopp.a)
    message(FATAL_ERROR "No lib/libcryptopp.a under QUILLON_CRYPTOPP_ROOT=${QUILLON_CRYPTOPP_ROOT}")
  endif()
  add_library(cryptopp STATIC IMPORTED GLOBAL)
  set_target_properties(cryptopp PROPERTIES
    IMPORTED_LOCATION ${QUILLON_CRYPTOPP_ROOT}/lib/libcryptopp.a
    INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${QUILLON_CRYPTOPP_ROOT}/include
    INTERFACE_INCLUDE_DIRECTORIES ${QUILLON_CRYPTOPP_ROOT}/include
    INTERFACE_LINK_LIBRARIES "advapi32;bcrypt")
elseif(QUILLON_CRYPTOPP_SOURCE)
  set(CRYPTOPP_SOURCE_DIR ${QUILLON_CRYPTOPP_SOURCE} CACHE PATH "" FORCE)
  add_subdirectory(${PROJECT_SOURCE_DIR}/cmake/cryptopp ${PROJECT_BINARY_DIR}/cryptopp EXCLUDE_FROM_ALL)
else()
  message(FATAL_ERROR "Windows build: set QUILLON_CRYPTOPP_ROOT or QUILLON_CRYPTOPP_SOURCE "
                      "(scripts/windows/fetch-cryptopp.sh fetches the source)")
endif()
