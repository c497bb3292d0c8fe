# Access engine: full-table read speed (compare with mdbtools' mdb-export via
# jet-vs-mdbtools.sh).
add_executable(jet_bench ${CMAKE_CURRENT_LIST_DIR}/jet_bench.cpp)
target_link_libraries(jet_bench PRIVATE qm_jet)
