# Compile benchmark: whole-process times of akqp-cli and qpmake beside luac5.3 (a script,
# put beside the programs in build/).
set(AKQP_SOURCE_DIR ${CMAKE_SOURCE_DIR})
configure_file(${CMAKE_CURRENT_LIST_DIR}/compile_bench.sh ${CMAKE_BINARY_DIR}/compile_bench @ONLY
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE)
