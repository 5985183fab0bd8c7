# The stamping tests (posix/) run the real vlx tool on a copy of the real shared library.
if(NOT WIN32)
  target_compile_definitions(${target} PRIVATE VLX_BINARY="$<TARGET_FILE:vlx>"
    VLX_LIBRARY_FILE="$<TARGET_FILE:velmora_util>")
  add_dependencies(${target} vlx velmora_util)
  target_link_libraries(${target} PRIVATE ${CMAKE_DL_LIBS})
endif()
