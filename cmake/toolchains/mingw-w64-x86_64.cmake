# Cross-compiling for 64-bit Windows with mingw-w64 (Debian: g++-mingw-w64-x86-64). The programs
# link statically, so that they run with no mingw DLLs beside them. Under CMake they run through
# Wine where the build runs them (test discovery aside, which the tests avoid); see tests/live.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QK_MINGW_PREFIX x86_64-w64-mingw32)
# The POSIX-threads flavour of the compiler: with the Win32 one, GCC 12's library has no
# std::thread or std::mutex, which simdjson and GoogleTest use. -static links its thread
# library in too.
set(CMAKE_C_COMPILER ${QK_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QK_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QK_MINGW_PREFIX}-windres)

# Libraries and packages only from the target's tree, never the build machine's; programs from
# the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QK_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
