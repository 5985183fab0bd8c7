# Cross-build for Windows with MinGW-w64, so that the <windows.h> side keeps compiling.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
