# The settings-file reader and writer (settings files and qpmake makefiles).
add_executable(settings_file_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/settings_file_fuzz.cpp)
target_link_libraries(settings_file_fuzz PRIVATE akqp_settings)
target_link_options(settings_file_fuzz PRIVATE -fsanitize=fuzzer)
