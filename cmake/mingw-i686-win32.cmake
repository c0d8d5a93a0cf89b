# 32-bit Windows with the win32 thread model: the shipped vornick.exe. The
# posix model would link winpthreads, which imports GetTickCount64 (Vista)
# and AddVectoredExceptionHandler (XP), and older loaders refuse the program.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLET i686-w64-mingw32)
set(MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
