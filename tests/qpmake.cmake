# qpmake end to end: the built qpmake with a recording stand-in compiler, and with the
# real akqp-cli when it is built.
akqp_test(qpmake_e2e_test ${CMAKE_CURRENT_SOURCE_DIR}/qpmake_e2e_test.cpp LIBS akqp_e2e_support)
add_dependencies(qpmake_e2e_test qpmake)
if(TARGET akqp-cli)
  add_dependencies(qpmake_e2e_test akqp-cli)
endif()
