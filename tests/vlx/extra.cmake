# The vlx tests link the tool's library, which brings the shared library (one copy of it), and
# run the built vlx binary.
set(vlx_test_library vlx_cli)
target_compile_definitions(${target} PRIVATE VLX_BINARY="$<TARGET_FILE:vlx>")
add_dependencies(${target} vlx)
# support/files.h, shared with the file tests, names the library's own file call table.
target_include_directories(${target} PRIVATE ${PROJECT_SOURCE_DIR})
# Hive files for `reg import-hive` are made with hivex's writing calls, where it is installed.
if(TARGET PkgConfig::HIVEX)
  target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/tests/support/windows_hive_file.cpp)
  target_link_libraries(${target} PRIVATE PkgConfig::HIVEX)
  target_compile_definitions(${target} PRIVATE VLX_HAVE_HIVEX)
endif()
# Hive files in the former name format are made through SQLite (support/old_hive.h).
target_link_libraries(${target} PRIVATE PkgConfig::SQLITE3)
# The manual page and the completion the build writes from the command tree.
add_dependencies(${target} vlx_docs)
add_test(NAME vlx_man_page
  COMMAND sh ${dir}/man_page_test.sh $<TARGET_FILE:vlx> ${PROJECT_BINARY_DIR}/tools/vlx/vlx.1
    ${PROJECT_SOURCE_DIR})
add_test(NAME vlx_completion
  COMMAND bash ${dir}/completion_test.sh $<TARGET_FILE:vlx> ${PROJECT_BINARY_DIR}/tools/vlx/vlx.bash)
set_tests_properties(vlx_man_page PROPERTIES SKIP_RETURN_CODE 77)
add_test(NAME vlx_synopsis
  COMMAND sh ${dir}/synopsis_test.sh $<TARGET_FILE:vlx> ${PROJECT_SOURCE_DIR}/docs/vlx.md)
