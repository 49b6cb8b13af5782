# Cross-compiles sevenparam for 64-bit Windows with Debian's MinGW-w64 (the
# POSIX-threads variant, package g++-mingw-w64-x86-64-posix), so that tests
# run the .exe files under Wine (package wine64):
#
#   cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
#   cmake --build build-windows
#   (cd build-windows && ctest)
#
# scripts/ci-windows does all of this, in a fresh Wine prefix and one Wine
# session for the whole test run. The executables are linked statically (see
# the top-level CMakeLists.txt), so each .exe runs on its own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(SEVENPARAM_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${SEVENPARAM_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${SEVENPARAM_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${SEVENPARAM_MINGW_TRIPLE}-windres)

# Libraries and headers come from the MinGW sysroot only, never from the
# Linux system; programs (Python for the CLI tests) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${SEVENPARAM_MINGW_TRIPLE})
# PROJ and SQLite, cross-built statically from Debian's sources by
# scripts/build-mingw-proj, whose last line of output names this prefix.
set(SEVENPARAM_MINGW_PROJ "" CACHE PATH "Prefix of the MinGW build of PROJ (scripts/build-mingw-proj)")
if(SEVENPARAM_MINGW_PROJ)
  list(APPEND CMAKE_FIND_ROOT_PATH ${SEVENPARAM_MINGW_PROJ})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Eigen is header-only, so Debian's copy serves the Windows build as well. Its
# package configuration lies outside the sysroot, hence named here; it adds
# nothing but /usr/include/eigen3 to the include path.
set(Eigen3_DIR /usr/share/eigen3/cmake CACHE PATH "Directory of Eigen3Config.cmake")

# CTest runs every test executable through Wine. Each build directory gets
# a Wine prefix of its own (created by scripts/ci-windows, or by Wine on the
# first start), so tests never touch the user's ~/.wine. Wine's diagnostics
# stay off: they would mix with the program's standard error. The .NET and
# HTML engines are not wanted by console programs; leaving them out keeps the
# prefix small and its creation quick. Running ctest by hand, start the
# session first (WINEPREFIX=<build>/wineprefix /usr/lib/wine/wineserver -p),
# or each test pays for a Wine start-up of its own.
find_program(SEVENPARAM_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(SEVENPARAM_WINE NAMES wine64 wine)
find_program(SEVENPARAM_ENV NAMES env)
set(SEVENPARAM_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix CACHE PATH
    "Wine prefix in which the tests run the .exe files")
if(SEVENPARAM_WINE AND SEVENPARAM_ENV)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      ${SEVENPARAM_ENV} WINEPREFIX=${SEVENPARAM_WINEPREFIX} WINEDEBUG=-all
      WINEDLLOVERRIDES=mscoree,mshtml= ${SEVENPARAM_WINE})
endif()

# The benchmarks need Google Benchmark, which Debian has for Linux only.
set(SEVENPARAM_BENCH OFF CACHE BOOL "Build the benchmarks")
