# The packed stream: the decoder on arbitrary streams, and pack-then-unpack round trips.
foreach(target jcalg_decode_fuzz jcalg_roundtrip_fuzz)
  add_executable(${target} ${CMAKE_CURRENT_LIST_DIR}/${target}.cpp)
  target_link_libraries(${target} PRIVATE akqp_jcalg)
  target_link_options(${target} PRIVATE -fsanitize=fuzzer)
endforeach()
