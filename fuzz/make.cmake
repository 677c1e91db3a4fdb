# The make tool's plan: makefile groups, commands, entries and output folders.
add_executable(make_plan_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/make_plan_fuzz.cpp)
target_link_libraries(make_plan_fuzz PRIVATE akqp_make)
target_link_options(make_plan_fuzz PRIVATE -fsanitize=fuzzer)
