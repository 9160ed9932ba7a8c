# Cross-build for 64-bit Windows with MinGW-w64 (Debian g++-mingw-w64-x86-64-posix).
# The posix thread model is required: the win32 one has no std::mutex or
# std::condition_variable. The runtime (libgcc, libstdc++, winpthread) is
# linked statically, so the programs need no DLLs beside them. Programs and
# tests run through Wine (CMAKE_CROSSCOMPILING_EMULATOR), so CTest runs the
# suite here as it does on Linux.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TORVANE_MINGW_TRIPLE x86_64-w64-mingw32)

find_program(CMAKE_C_COMPILER NAMES ${TORVANE_MINGW_TRIPLE}-gcc-posix REQUIRED)
find_program(CMAKE_CXX_COMPILER NAMES ${TORVANE_MINGW_TRIPLE}-g++-posix REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES ${TORVANE_MINGW_TRIPLE}-windres REQUIRED)

# Only the MinGW sysroot is searched for libraries and headers; programs
# (the build's own tools) come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${TORVANE_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(ZLIB_USE_STATIC_LIBS ON)

# Wine runs the test programs. wine64 is not on PATH in Debian's package.
find_program(TORVANE_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(NOT TORVANE_WINE64)
  find_program(TORVANE_WINE64 NAMES wine64 wine)
endif()
if(TORVANE_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TORVANE_WINE64})
endif()
