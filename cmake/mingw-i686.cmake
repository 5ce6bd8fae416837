# The 32-bit Harvo.dll: cmake -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake ...
# These machines cannot run 32-bit code, so this build has no test emulator: its DLL is checked
# by inspecting its export table.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(HARVO_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
