# Access -> FoxPro container through the program's transfer and script run.
find_package(Qt6 REQUIRED COMPONENTS Widgets Gui Core)
if(TARGET qm_app)
  add_executable(tofoxpro_bench ${CMAKE_CURRENT_LIST_DIR}/tofoxpro_bench.cpp)
  target_link_libraries(tofoxpro_bench PRIVATE qm_app)
endif()
