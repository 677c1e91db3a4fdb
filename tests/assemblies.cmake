# The assemblies section end to end: akqp-cli compiles, qpinfo reads the QP file back.
akqp_test(assemblies_e2e_test ${CMAKE_CURRENT_LIST_DIR}/assemblies_e2e_test.cpp
  LIBS akqp_e2e_support PkgConfig::ZLIB)
add_dependencies(assemblies_e2e_test akqp-cli qpinfo)

akqp_test(examples_e2e_test ${CMAKE_CURRENT_LIST_DIR}/examples_e2e_test.cpp
  LIBS akqp_e2e_support)
add_dependencies(examples_e2e_test akqp-cli qpinfo)
