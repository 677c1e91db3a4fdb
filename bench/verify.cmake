# The verification stage on large and hostile scripts.
add_executable(verify_bench ${CMAKE_CURRENT_SOURCE_DIR}/verify_bench.cpp)
target_link_libraries(verify_bench PRIVATE akqp_verify)
