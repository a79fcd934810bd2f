# Cross-compiling for 32-bit Windows (g++-mingw-w64-i686), otherwise as for
# 64-bit. Wine runs the exe when wine32 (i386) is installed.
set(mingwtriple i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
