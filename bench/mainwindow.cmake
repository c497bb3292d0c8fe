# Main window: "Next >" filling both lists from 10,000-table catalogs.
if(NOT DEFINED QM_BENCH_DIR)
  set(QM_BENCH_DIR ${CMAKE_CURRENT_LIST_DIR})
endif()
if(TARGET qm_app)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Gui Core)
  add_executable(mainwindow_bench ${QM_BENCH_DIR}/mainwindow_bench.cpp)
  target_link_libraries(mainwindow_bench PRIVATE qm_app qm_jet qm_xbase)
endif()
