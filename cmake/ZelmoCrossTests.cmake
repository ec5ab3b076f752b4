# Test programs of a cross build for Windows.
#
# GoogleTest: Debian's googletest sources are built for the target when no GTest package for it
# is found. Later find_package(GTest) calls (tools/) then find a stub package that stands for
# the targets made here.
#
# Running: the programs run under Wine. Discovery of test cases waits until ctest runs, so the
# build itself never needs Wine, and tests/wine/wine-exec.sh runs each program in the build's
# own Wine prefix.
set(stub ${CMAKE_BINARY_DIR}/gtest-package)
if(NOT GTest_DIR STREQUAL stub)
  find_package(GTest QUIET)
endif()
if(NOT GTest_FOUND)
  set(ZELMO_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH
      "GoogleTest sources, built for the target when no GTest package is found")
  if(NOT EXISTS ${ZELMO_GOOGLETEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "No GTest for the target and no sources in ${ZELMO_GOOGLETEST_SOURCE}")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${ZELMO_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  foreach(lib gtest gtest_main gmock gmock_main)
    # Their code, their warnings: not ours to fix.
    target_compile_options(${lib} PRIVATE -w)
    if(NOT TARGET GTest::${lib})
      add_library(GTest::${lib} ALIAS ${lib})
    endif()
  endforeach()
  file(WRITE ${stub}/GTestConfig.cmake
       "# GoogleTest is built with this project; its GTest:: targets exist already.\n")
  set(GTest_DIR ${stub} CACHE PATH "GTest package of the target" FORCE)
endif()

set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
set(CMAKE_CROSSCOMPILING_EMULATOR ${PROJECT_SOURCE_DIR}/tests/wine/wine-exec.sh)
