# Cross-build for 32-bit Windows with MinGW-w64: the library keeps compiling where pointers and
# VARIANT are smaller.
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
