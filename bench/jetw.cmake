# Access writer: append speed and file size for generated tables.
add_executable(jetw_bench ${CMAKE_CURRENT_LIST_DIR}/jetw_bench.cpp)
target_link_libraries(jetw_bench PRIVATE qm_jet)
