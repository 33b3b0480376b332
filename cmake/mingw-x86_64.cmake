# The same sources as 64-bit Windows programs, for running the tests under 64-bit Wine:
# cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
set(MINGW_TRIPLE x86_64-w64-mingw32)
set(MINGW_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)

find_program(QVX3_WINE NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
find_program(QVX3_WINE NAMES wine64 wine)
if(QVX3_WINE)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${QVX3_WINE})
endif()
