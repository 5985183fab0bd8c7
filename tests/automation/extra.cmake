# The in-process server the end-to-end test registers and loads; it uses the shared library's
# OLE calls, as a real server does.
add_library(vlx_test_server MODULE ${PROJECT_SOURCE_DIR}/tests/support/sheet_server.cpp)
target_link_libraries(vlx_test_server PRIVATE velmora_util)
vlx_warnings(vlx_test_server)
add_dependencies(${target} vlx_test_server)
target_compile_definitions(${target} PRIVATE VLX_TEST_SERVER="$<TARGET_FILE:vlx_test_server>")
target_link_libraries(${target} PRIVATE ${CMAKE_DL_LIBS})
