# Cross build for 64-bit Windows with Debian's mingw-w64 (the posix thread model, which
# std::thread needs):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(ZELMO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${ZELMO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZELMO_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${ZELMO_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ZELMO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)


# The print service's libraries, header-only here, from Debian's packages at the Linux build's
# versions: scripts/setup-windows-deps puts them in this folder (ZELMO_WINDOWS_DEPS).
if(DEFINED ENV{ZELMO_WINDOWS_DEPS})
  set(ZELMO_WINDOWS_DEPS $ENV{ZELMO_WINDOWS_DEPS})
else()
  set(ZELMO_WINDOWS_DEPS $ENV{HOME}/.cache/zelmo-windows-deps)
endif()
if(NOT EXISTS ${ZELMO_WINDOWS_DEPS}/include/httplib.h)
  message(FATAL_ERROR "No ${ZELMO_WINDOWS_DEPS}/include/httplib.h: run scripts/setup-windows-deps")
endif()
# Standard include folders are read at every configure, unlike the flags' first-time value.
set(CMAKE_CXX_STANDARD_INCLUDE_DIRECTORIES ${ZELMO_WINDOWS_DEPS}/include)
