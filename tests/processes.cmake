# akqp-cli and its assembler as processes: signals, a closed console, start-up and the
# temporary folder.
akqp_test(processes_e2e_test ${CMAKE_CURRENT_LIST_DIR}/processes_e2e_test.cpp LIBS akqp_e2e_support)
add_dependencies(processes_e2e_test akqp-cli)
