# Cross build for 64-bit Windows with Debian's mingw-w64 (posix threads), run under Wine.
# Libraries built for Windows (SQLite, pugixml, GoogleTest and the header-only ones) come from a
# prefix given as OA_WINDOWS_DEPS (scripts/build-windows.sh makes it); nothing is taken from the
# build machine's own /usr.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(OA_MINGW x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${OA_MINGW}-gcc-posix)
set(CMAKE_CXX_COMPILER ${OA_MINGW}-g++-posix)
set(CMAKE_RC_COMPILER ${OA_MINGW}-windres)
set(CMAKE_AR ${OA_MINGW}-gcc-ar-posix CACHE FILEPATH "")
set(CMAKE_RANLIB ${OA_MINGW}-gcc-ranlib-posix CACHE FILEPATH "")

# try_compile projects read this file again: hand them the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES OA_WINDOWS_DEPS)
set(CMAKE_FIND_ROOT_PATH /usr/${OA_MINGW})
if(OA_WINDOWS_DEPS)
  list(APPEND CMAKE_FIND_ROOT_PATH ${OA_WINDOWS_DEPS})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Without the libstdc++, libgcc and winpthread DLLs beside it a program exits at once with
# status 53; linked statically it runs from anywhere.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Tests and test discovery run under Wine, in a prefix of the build's own (wine-test-run.sh).
# Tests are listed when ctest runs them, so building needs no Wine.
find_program(OA_WINE NAMES wine64 wine)
if(OA_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /bin/sh ${CMAKE_CURRENT_LIST_DIR}/wine-test-run.sh ${CMAKE_BINARY_DIR}/wineprefix ${OA_WINE})
endif()
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
