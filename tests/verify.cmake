# akqp-cli end to end with verification sections and files.
akqp_test(verify_e2e_test ${CMAKE_CURRENT_SOURCE_DIR}/verify_e2e_test.cpp
  LIBS akqp_e2e_support PkgConfig::ZLIB GTest::gmock)
add_dependencies(verify_e2e_test akqp-cli)
