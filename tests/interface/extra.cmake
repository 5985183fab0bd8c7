# The interface tests use the shared library as a host does, and check that every public header
# compiles on its own.
set(vlx_test_library velmora_util)
target_compile_definitions(${target} PRIVATE
  VLX_LIBRARY_FILE="$<TARGET_FILE:velmora_util>"
  VLX_SYMBOL_LIST="${CMAKE_CURRENT_SOURCE_DIR}/interface/exported_symbols.txt")

file(GLOB_RECURSE public_headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/include/velmora/*.h)
set(header_checks)
foreach(header IN LISTS public_headers)
  file(RELATIVE_PATH relative ${PROJECT_SOURCE_DIR}/include ${header})
  string(MAKE_C_IDENTIFIER ${relative} stem)
  set(check ${CMAKE_CURRENT_BINARY_DIR}/header_checks/${stem}.cpp)
  file(CONFIGURE OUTPUT ${check} CONTENT "#include <${relative}>\n")
  list(APPEND header_checks ${check})
endforeach()
add_library(vlx_header_checks OBJECT ${header_checks})
target_include_directories(vlx_header_checks PRIVATE ${PROJECT_SOURCE_DIR}/include)
vlx_warnings(vlx_header_checks)
add_dependencies(${target} vlx_header_checks)
