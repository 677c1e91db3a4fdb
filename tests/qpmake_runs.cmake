# qpmake's runs as processes: the user's interrupt, compilers that cannot start or die,
# signals to qpmake itself, a console that has gone away.
akqp_test(qpmake_runs_e2e_test ${CMAKE_CURRENT_LIST_DIR}/qpmake_runs_e2e_test.cpp LIBS akqp_e2e_support)
add_dependencies(qpmake_runs_e2e_test qpmake)
