# Access engine: reading an encrypted .accdb against the same table in clear.
add_executable(jetcrypt_bench ${CMAKE_CURRENT_LIST_DIR}/jetcrypt_bench.cpp)
target_link_libraries(jetcrypt_bench PRIVATE qm_jet)
