akqp_test(docs_examples_e2e_test ${CMAKE_CURRENT_LIST_DIR}/docs_examples_e2e_test.cpp
  LIBS akqp_e2e_support)
add_dependencies(docs_examples_e2e_test akqp-cli qpmake qpinfo)
