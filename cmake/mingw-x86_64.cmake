# 64-bit Windows: the same sources and tests, for machines whose kernel runs
# no 32-bit code (and so no 32-bit Wine), and to keep the sources clean for
# both record layouts. The posix thread model, for GoogleTest.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MINGW_TRIPLET x86_64-w64-mingw32)
set(MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
