# The vlx tests link the tool's library, which brings the shared library (one copy of it), and
# run the built vlx binary.
set(vlx_test_library vlx_cli)
target_compile_definitions(${target} PRIVATE VLX_BINARY="$<TARGET_FILE:vlx>")
add_dependencies(${target} vlx)
# Hive files in the former name format are made through SQLite (support/old_hive.h).
target_link_libraries(${target} PRIVATE PkgConfig::SQLITE3)
