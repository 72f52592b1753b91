# Cross-building for 64-bit Windows with MinGW-w64 from Debian (package
# g++-mingw-w64-x86-64-posix): the posix threads variant, whose libstdc++ has std::thread and
# std::mutex. Everything is linked statically, so the programs need no MinGW DLL beside them and
# run as they are under Wine or on Windows.
#
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KORVALO_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KORVALO_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KORVALO_MINGW_PREFIX}-g++-posix)

set(CMAKE_FIND_ROOT_PATH /usr/${KORVALO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
