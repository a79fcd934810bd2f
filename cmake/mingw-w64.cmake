# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 toolchain
# (g++-mingw-w64-x86-64). The exe is linked statically so that it needs no
# libstdc++, libgcc or winpthread DLL beside it, and runs under Wine for the
# tests. mingw-w64-i686.cmake sets mingwtriple and includes this file for
# 32-bit Windows.
set(CMAKE_SYSTEM_NAME Windows)
if(NOT mingwtriple)
  set(mingwtriple x86_64-w64-mingw32)
  set(CMAKE_SYSTEM_PROCESSOR x86_64)
endif()
set(triple ${mingwtriple})
# The posix thread model has the complete C++ library; -static pulls its
# winpthread in from the archive instead of a DLL.
find_program(CMAKE_CXX_COMPILER NAMES ${triple}-g++-posix ${triple}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${triple}-windres)
find_program(CMAKE_OBJDUMP NAMES ${triple}-objdump objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# A release exe carries no symbols: the one the tests run is the one shipped.
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")
set(CMAKE_EXE_LINKER_FLAGS_MINSIZEREL_INIT "-s")

# Wine runs the tests, each exe by the loader of its own width, named
# directly: /usr/bin/wine starts the 32-bit loader wherever wine32 is
# installed, which fails on a kernel that runs no 32-bit programs, and
# without wine32 it starts the 64-bit one, which cannot run a 32-bit exe.
# Debian keeps both loaders in /usr/lib/wine; elsewhere wine is the 32-bit
# one and wine64 the 64-bit one. Where none is found the Wine tests say
# they were skipped.
if(triple MATCHES "^x86_64")
  find_program(WINE NAMES wine64 HINTS /usr/lib/wine)
  find_program(WINESERVER NAMES wineserver64 wineserver HINTS /usr/lib/wine)
else()
  find_program(WINE NAMES wine PATHS /usr/lib/wine NO_DEFAULT_PATH)
  find_program(WINE NAMES wine)
  find_program(WINESERVER NAMES wineserver)
endif()
if(WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE})
endif()
