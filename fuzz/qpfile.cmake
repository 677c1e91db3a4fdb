# The QP file reader (QpFile::Load) and the chunk layout converter behind it.
add_executable(qpfile_load_fuzz ${CMAKE_CURRENT_SOURCE_DIR}/qpfile_load_fuzz.cpp)
target_link_libraries(qpfile_load_fuzz PRIVATE akqp_qpfile akqp_jcalg PkgConfig::ZLIB)
target_link_options(qpfile_load_fuzz PRIVATE -fsanitize=fuzzer)
