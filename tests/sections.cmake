akqp_test(sections_e2e_test ${CMAKE_CURRENT_LIST_DIR}/sections_e2e_test.cpp LIBS akqp_e2e_support)
add_dependencies(sections_e2e_test akqp-cli qpinfo)
