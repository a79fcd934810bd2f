# Cross-compiling for 32-bit Windows (g++-mingw-w64-i686), otherwise as for
# 64-bit. Wine runs the exe where wine32 (i386) is installed and the
# kernel runs 32-bit programs; elsewhere its Wine tests are skipped.
set(mingwtriple i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
