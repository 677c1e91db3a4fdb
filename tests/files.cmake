# Files end to end: bounded reads, the output never the input, safe replacement by every
# writer (akqp-cli, qpinfo, qpmake, the settings file).
akqp_test(files_e2e_test ${CMAKE_CURRENT_LIST_DIR}/files_e2e_test.cpp
          LIBS akqp_e2e_support akqp_platform_testing)
add_dependencies(files_e2e_test akqp-cli qpinfo qpmake)
