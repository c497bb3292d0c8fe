# SQL window: a million INSERT lines appended to the shown window's script,
# then executed on a FoxPro database container; rates and peak memory.
if(TARGET qm_app AND TARGET qm_providers)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Gui Core)
  add_executable(sqlwindow_bench ${CMAKE_CURRENT_LIST_DIR}/sqlwindow_bench.cpp)
  target_link_libraries(sqlwindow_bench PRIVATE qm_app qm_providers qm_sql qm_storage)
endif()
