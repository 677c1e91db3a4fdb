# The verification stage: section search and removal, XML checks and records.
add_executable(verify_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/verify_fuzz.cpp)
target_link_libraries(verify_fuzz PRIVATE akqp_verify)
target_link_options(verify_fuzz PRIVATE -fsanitize=fuzzer)
