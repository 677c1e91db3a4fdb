# Installing into a temporary prefix, the manual pages and the Debian package. Each runs
# on the finished build (make test builds everything first).
if(NOT UNIX)
  return()
endif()
foreach(script install man_pages package)
  add_test(NAME ${script}_test COMMAND bash ${CMAKE_CURRENT_LIST_DIR}/${script}_test.sh)
  set_tests_properties(${script}_test PROPERTIES
    ENVIRONMENT "AKQP_BUILD_DIR=${CMAKE_BINARY_DIR};AKQP_SOURCE_DIR=${CMAKE_SOURCE_DIR}"
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}
    SKIP_RETURN_CODE 77
    TIMEOUT 300)
endforeach()
# Both install the whole build; one at a time keeps them from building at once.
set_tests_properties(install_test package_test PROPERTIES RESOURCE_LOCK akqp_install)
