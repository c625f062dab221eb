# Cross-builds the Windows program (x86-64) on Debian with mingw-w64: the
# posix-thread flavour of the compilers, so std::thread works, and the C++,
# gcc and winpthread runtimes linked in so the .exe needs no DLL of its own.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUORBIT_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUORBIT_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUORBIT_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${QUORBIT_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${QUORBIT_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run under wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
