# The 64-bit Harvo.dll: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake ...
# Its test programs run under wine64 (scripts/wine-run: a Wine prefix of the build's own and no
# Wine debug output).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(HARVO_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
