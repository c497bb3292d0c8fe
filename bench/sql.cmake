# SQL layer: scripts of single-row INSERT statements of the program's own
# form into a FoxPro free table and into an Access table.
add_executable(sql_bench ${CMAKE_CURRENT_LIST_DIR}/sql_bench.cpp)
target_link_libraries(sql_bench PRIVATE qm_sql qm_storage)
