akqp_test(cli_options_e2e_test ${CMAKE_CURRENT_LIST_DIR}/cli_options_e2e_test.cpp
  LIBS akqp_e2e_support)
add_dependencies(cli_options_e2e_test akqp-cli)
