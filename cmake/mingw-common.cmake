# Shared by the toolchain files: cross-compiling for Windows with MinGW-w64.
# The including file sets MINGW_TRIPLET (i686-w64-mingw32 or
# x86_64-w64-mingw32), MINGW_THREADS (posix or win32) and
# CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${MINGW_TRIPLET}-gcc-${MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLET}-g++-${MINGW_THREADS})
set(CMAKE_RC_COMPILER ${MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# ctest runs the Windows test programs under Wine; the scripts put a `wine`
# that starts the right loader first in PATH.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
