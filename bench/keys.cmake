# Keys built over tables that hold rows: Access CREATE INDEX, FoxPro tags.
add_executable(keys_bench ${CMAKE_CURRENT_LIST_DIR}/keys_bench.cpp)
target_link_libraries(keys_bench PRIVATE qm_storage)
