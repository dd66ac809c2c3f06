# Cross-compiles for 64-bit Windows with MinGW-w64 on Debian. The posix-thread
# compiler is the one whose libstdc++ has std::thread; everything is linked
# statically, so the programs need no DLL of ours beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MARKLODE_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MARKLODE_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MARKLODE_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MARKLODE_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MARKLODE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and test discovery run the programs under Wine. The top-level
# CMakeLists gives Wine a prefix in the build tree when this is left unset.
find_program(MARKLODE_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT MARKLODE_WINE64)
  find_program(MARKLODE_WINE64 NAMES wine64 wine)
endif()
