# Definition scripts through the section walk: generated returned tables with metatables.
add_executable(sections_walk_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/sections_walk_fuzz.cpp)
target_link_libraries(sections_walk_fuzz PRIVATE akqp_script akqp_sections akqp_assembler akqp_settings)
target_link_options(sections_walk_fuzz PRIVATE -fsanitize=fuzzer)
