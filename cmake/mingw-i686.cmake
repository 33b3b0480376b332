# Cross-builds the 32-bit Windows deliverables: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
set(MINGW_TRIPLE i686-w64-mingw32)
set(MINGW_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

# SSE2 arithmetic instead of the x87 unit's extended precision: double results then match
# the other builds bit for bit.
set(CMAKE_C_FLAGS_INIT "-msse2 -mfpmath=sse")
set(CMAKE_CXX_FLAGS_INIT "-msse2 -mfpmath=sse")
