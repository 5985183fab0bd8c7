# The in-process server the end-to-end test registers and loads; it makes its OLE calls through
# velmora/win32.h, as a real server does.
add_library(vlx_test_server MODULE ${PROJECT_SOURCE_DIR}/tests/support/sheet_server.cpp)
target_link_libraries(vlx_test_server PRIVATE velmora_util)
# Its objects count references and answer QueryInterface as the Calc server's do.
target_include_directories(vlx_test_server PRIVATE ${PROJECT_SOURCE_DIR}/servers)
vlx_warnings(vlx_test_server)
add_dependencies(${target} vlx_test_server)
if(WIN32)
  # Windows declares the COM interfaces with a public, non-virtual destructor: objects die through
  # Release, never through an interface pointer.
  target_compile_options(${target} PRIVATE -Wno-non-virtual-dtor)
  target_compile_options(vlx_test_server PRIVATE -Wno-non-virtual-dtor)
  # Beside the test program, where the loader finds a server registered by its bare name.
  set_target_properties(vlx_test_server PROPERTIES LIBRARY_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR})
  target_compile_definitions(${target} PRIVATE VLX_TEST_SERVER="$<TARGET_FILE_NAME:vlx_test_server>")
else()
  target_compile_definitions(${target} PRIVATE VLX_TEST_SERVER="$<TARGET_FILE:vlx_test_server>")
  # A library that is no server, which must be refused before any of its code runs.
  add_library(vlx_test_no_entry MODULE ${PROJECT_SOURCE_DIR}/tests/support/no_entry_library.cpp)
  vlx_warnings(vlx_test_no_entry)
  add_dependencies(${target} vlx_test_no_entry)
  target_compile_definitions(${target} PRIVATE
    VLX_TEST_NO_ENTRY="$<TARGET_FILE:vlx_test_no_entry>")
  target_link_libraries(${target} PRIVATE ${CMAKE_DL_LIBS})
endif()
# The README's host program, which the server test runs.
add_dependencies(${target} first_workbook)
if(WIN32)
  target_compile_definitions(${target} PRIVATE VLX_FIRST_WORKBOOK="$<TARGET_FILE_NAME:first_workbook>")
else()
  target_compile_definitions(${target} PRIVATE VLX_FIRST_WORKBOOK="$<TARGET_FILE:first_workbook>"
    VLX_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
endif()
