# Testing a Windows build on Linux: the tests run under Wine, and GoogleTest
# is built from Debian's sources with the cross compiler.

# Wine gets a prefix of its own in the build tree, so the tests never touch
# the user's, and its debug chatter stays off the tests' stderr.
if(NOT CMAKE_CROSSCOMPILING_EMULATOR)
  if(NOT MARKLODE_WINE64)
    message(FATAL_ERROR "wine64 is needed to run the Windows tests (scripts/setup.sh installs it)")
  endif()
  set(CMAKE_CROSSCOMPILING_EMULATOR
    env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all ${MARKLODE_WINE64}
    CACHE STRING "Runs the Windows programs" FORCE)
endif()

set(MARKLODE_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
if(NOT EXISTS ${MARKLODE_GOOGLETEST_SOURCE}/CMakeLists.txt)
  message(FATAL_ERROR "GoogleTest sources not found in ${MARKLODE_GOOGLETEST_SOURCE} "
    "(scripts/setup.sh installs the googletest package)")
endif()
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
add_subdirectory(${MARKLODE_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
# find_package(GTest) in the tests finds these targets (GTest::gtest and the
# rest come with the sources) rather than the Linux libraries.
file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/gtest-config.cmake
  "# The GoogleTest built in this tree for Windows.\nset(GTest_FOUND TRUE)\n")
file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/gtest-config-version.cmake
  "set(PACKAGE_VERSION_COMPATIBLE TRUE)\nset(PACKAGE_VERSION_EXACT FALSE)\n")
