# Cross-build for 64-bit Windows with Debian's MinGW-w64 (g++-mingw-w64-x86-64).
#
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-w64.cmake \
#         -DTARNWICK_BUILD_GUI=OFF
#
# The executables link libgcc, libstdc++ and winpthread statically, so they
# run on Windows (or under Wine) without any MinGW DLL beside them. ctest runs
# them through Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TARNWICK_MINGW_TRIPLE x86_64-w64-mingw32)
# The posix thread model gives std::thread and std::mutex; its winpthread is
# linked statically below.
find_program(CMAKE_C_COMPILER NAMES ${TARNWICK_MINGW_TRIPLE}-gcc-posix ${TARNWICK_MINGW_TRIPLE}-gcc REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TARNWICK_MINGW_TRIPLE}-g++-posix ${TARNWICK_MINGW_TRIPLE}-g++ REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TARNWICK_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TARNWICK_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static takes the static libgcc, libstdc++ and winpthread; the Windows
# system libraries (advapi32, odbc32, ...) are import libraries and stay DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# CMake otherwise switches the linker back to -Bdynamic after the libraries it
# names itself, and the compiler's own libstdc++ and winpthread would then be
# taken as DLLs.
set(CMAKE_LINK_SEARCH_START_STATIC ON)
set(CMAKE_LINK_SEARCH_END_STATIC ON)

# Wine runs the test executables. wine64 is the 64-bit loader on Debian; the
# plain `wine` wrapper is the fallback elsewhere.
find_program(TARNWICK_WINE NAMES wine64 wine PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TARNWICK_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TARNWICK_WINE})
endif()
