# Packing benchmark: sizes and speeds of the packed stream on a corpus of Lua chunks.
add_executable(pack_bench ${CMAKE_CURRENT_LIST_DIR}/pack_bench.cpp)
target_link_libraries(pack_bench PRIVATE akqp_jcalg akqp_qpfile akqp_luahelpers akqp_platform
                      PkgConfig::ZLIB PkgConfig::LUA)
