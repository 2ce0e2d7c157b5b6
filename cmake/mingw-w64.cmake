# SPDX-License-Identifier: GPL-3.0-or-later
# Cross build for 64-bit Windows with Debian's MinGW-w64 (x86_64-w64-mingw32),
# the programs tested under Wine:
#   cmake --toolchain cmake/mingw-w64.cmake -B build-windows
# The POSIX thread model of the compiler is preferred where it is installed:
# std::thread and its kin need it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(quorvelmingw x86_64-w64-mingw32)

find_program(quorvelmingwcxx NAMES ${quorvelmingw}-g++-posix ${quorvelmingw}-g++ REQUIRED)
find_program(quorvelmingwcc NAMES ${quorvelmingw}-gcc-posix ${quorvelmingw}-gcc REQUIRED)
set(CMAKE_C_COMPILER ${quorvelmingwcc})
set(CMAKE_CXX_COMPILER ${quorvelmingwcxx})
set(CMAKE_RC_COMPILER ${quorvelmingw}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${quorvelmingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# pkg-config would otherwise answer with the build machine's packages (GTK for
# Linux), which cannot link into a Windows program.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${quorvelmingw}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

# ctest and gtest run the Windows programs through Wine (64-bit).
find_program(quorvelwine NAMES wine64 wine PATHS /usr/lib/wine)
if(quorvelwine)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${quorvelwine})
endif()
