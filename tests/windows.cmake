# The cases that only Windows has: drive letters, the application-data folder, real
# dependency checks against system DLLs, files held open by other programs.
if(WIN32)
  akqp_test(windows_e2e_test ${CMAKE_CURRENT_LIST_DIR}/windows_e2e_test.cpp LIBS akqp_e2e_support)
  add_dependencies(windows_e2e_test akqp-cli)
endif()
