# The window program's end-to-end test runs under a private X server; it reports itself
# skipped where Xvfb or xdotool is missing.
if(TARGET akqp AND WIN32)
  # The Windows build's akqp.exe under Wine.
  add_test(NAME gui_e2e COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/gui_win32_e2e_test.sh)
  set_tests_properties(gui_e2e PROPERTIES
    ENVIRONMENT "AKQP_BUILD_DIR=${CMAKE_BINARY_DIR};AKQP_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    SKIP_RETURN_CODE 77
    RUN_SERIAL TRUE
    TIMEOUT 300)
elseif(TARGET akqp)
  add_test(NAME gui_e2e COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/gui_e2e_test.sh)
  set_tests_properties(gui_e2e PROPERTIES
    ENVIRONMENT "AKQP_BUILD_DIR=${CMAKE_BINARY_DIR};AKQP_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    SKIP_RETURN_CODE 77
    RUN_SERIAL TRUE
    TIMEOUT 300)
endif()
