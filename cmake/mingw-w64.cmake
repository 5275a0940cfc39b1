# Cross-compiles vekton.exe and the unit tests for 64-bit Windows with
# Debian's mingw-w64 (package mingw-w64):
#   cmake -S . -B build-win -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The programs are linked statically (libgcc, libstdc++, winpthreads), so they
# need no DLL beyond those that come with Windows; they run under Wine too.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
# The -posix compilers carry the C++ thread support (std::thread, std::mutex)
# over winpthreads; the -win32 ones lack it before GCC 13.
find_program(CMAKE_C_COMPILER NAMES ${MINGW_TRIPLE}-gcc-posix ${MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${MINGW_TRIPLE}-g++-posix ${MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Release at -O2, as the Linux build: GCC 12 at -O3 warns falsely about
# overlapping copies inside std::string (-Wrestrict).
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags used by the C compiler for Release builds")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "Flags used by the C++ compiler for Release builds")

# -static takes winpthreads in as well as the compiler's own run-time.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the Windows programs through Wine.
find_program(VEKTON_WINE NAMES wine wine64)
if(VEKTON_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${VEKTON_WINE})
endif()
