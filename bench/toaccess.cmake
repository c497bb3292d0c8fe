# Transfer to Access: a FoxPro container table of 1,000,000 rows sent to a
# new .mdb and .accdb through the same run the main window starts.
if(TARGET qm_app)
  find_package(Qt6 REQUIRED COMPONENTS Widgets Gui Core)
  add_executable(toaccess_bench ${CMAKE_CURRENT_LIST_DIR}/toaccess_bench.cpp)
  target_link_libraries(toaccess_bench PRIVATE qm_app)
endif()
