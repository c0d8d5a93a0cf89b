# 32-bit Windows, for the test programs: GoogleTest needs the posix thread
# model (std::mutex). The program itself is built by a sub-build with the
# win32 thread model (mingw-i686-win32.cmake), whose static runtime imports
# nothing that Windows 95 or NT 4.0 lacks.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(MINGW_TRIPLET i686-w64-mingw32)
set(MINGW_THREADS posix)
set(VORNICK_PRODUCT_TOOLCHAIN ${CMAKE_CURRENT_LIST_DIR}/mingw-i686-win32.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
