# Cross build for 64-bit Windows with mingw-w64 (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(OPENSSL_USE_STATIC_LIBS TRUE)
# The static libcrypto that scripts/bootstrap cross-builds lives outside the
# checkout; scripts/build passes its prefix in MERRO_OPENSSL_MINGW.
if(DEFINED ENV{MERRO_OPENSSL_MINGW})
  list(APPEND CMAKE_FIND_ROOT_PATH $ENV{MERRO_OPENSSL_MINGW})
  set(OPENSSL_ROOT_DIR $ENV{MERRO_OPENSSL_MINGW})
endif()
