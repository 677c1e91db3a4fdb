# The output stage end to end: akqp-cli writes QP files, qpinfo reads them back.
akqp_test(output_e2e_test ${CMAKE_CURRENT_LIST_DIR}/output_e2e_test.cpp LIBS akqp_e2e_support)
add_dependencies(output_e2e_test akqp-cli qpinfo)
