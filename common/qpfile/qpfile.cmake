# The QP file: its format, the QpFile object that writes and reads it, and the layout of
# the Lua chunk it stores.
add_library(akqp_qpfile STATIC
  ${CMAKE_CURRENT_LIST_DIR}/chunk_layout.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qp_file.cpp
)
target_link_libraries(akqp_qpfile PUBLIC
  akqp_jcalg akqp_luahelpers akqp_platform PkgConfig::ZLIB PkgConfig::LUA)

akqp_test(qpfile_test
  ${CMAKE_CURRENT_LIST_DIR}/chunk_layout_test.cpp
  ${CMAKE_CURRENT_LIST_DIR}/qp_file_test.cpp
  LIBS akqp_qpfile akqp_e2e_support akqp_platform_testing)
