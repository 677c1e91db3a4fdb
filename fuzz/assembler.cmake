# The reader of the flat assembler's report and the cut of marked routines.
add_executable(assembler_report_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/assembler_report_fuzz.cpp)
target_link_libraries(assembler_report_fuzz PRIVATE akqp_sections akqp_assembler)
target_link_options(assembler_report_fuzz PRIVATE -fsanitize=fuzzer)
