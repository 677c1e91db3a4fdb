# The command line of akqp-cli and the append of a --verify file to the script.
add_executable(command_line_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/command_line_fuzz.cpp)
target_link_libraries(command_line_fuzz PRIVATE akqp_driver)
target_link_options(command_line_fuzz PRIVATE -fsanitize=fuzzer)
