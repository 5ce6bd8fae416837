# Shared part of the mingw-w64 toolchain files. The including file sets HARVO_MINGW_TRIPLE and
# CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

# The "-posix" compilers: their C++ runtime has std::thread, std::mutex and
# std::condition_variable (over winpthreads), which the library's threads use.
set(CMAKE_C_COMPILER ${HARVO_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HARVO_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${HARVO_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${HARVO_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump for the target")

# Libraries and headers come from the mingw-w64 sysroot only; programs run on the build host.
set(CMAKE_FIND_ROOT_PATH /usr/${HARVO_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
