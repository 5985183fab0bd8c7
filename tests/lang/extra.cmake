# The language tests run a small host from copies placed beside the language directories they
# build, since the installation directory is the running executable's.
add_executable(vlx_lang_host ${PROJECT_SOURCE_DIR}/tests/support/lang_host.cpp)
target_link_libraries(vlx_lang_host PRIVATE velmora_util)
vlx_warnings(vlx_lang_host)
target_compile_definitions(${target} PRIVATE VLX_LANG_HOST="$<TARGET_FILE:vlx_lang_host>")
add_dependencies(${target} vlx_lang_host)
