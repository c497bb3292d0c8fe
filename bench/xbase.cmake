# xBase table layer: append and full read of a generated 1,000,000-row VFP table.
if(NOT DEFINED QM_BENCH_DIR)
  set(QM_BENCH_DIR ${CMAKE_CURRENT_LIST_DIR})
endif()
add_executable(xbase_bench ${QM_BENCH_DIR}/xbase_bench.cpp)
target_link_libraries(xbase_bench PRIVATE qm_xbase)
