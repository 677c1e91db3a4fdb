# What the Windows build adds once the programs are defined (included by the top-level
# CMakeLists.txt when cross-building): fasm.exe beside akqp-cli.exe, the 32-bit lua.exe
# and luac.exe for the tests, the zip, and the tests of the zip and of the same bytes on
# both systems.

# FLTK's headers test WIN32, which GCC defines only in the GNU dialects, not in strict
# C++20. The window program is a window program: no console opens with it.
# FLTK's headers come from the prefix through fltk-config's -I: mark them as system
# headers, as they are on Linux, so that their own warnings stay out of ours.
if(TARGET akqp)
  target_compile_definitions(akqp PRIVATE WIN32)
  target_include_directories(akqp SYSTEM PRIVATE ${AKQP_WIN32_PREFIX}/include)
  set_target_properties(akqp PROPERTIES WIN32_EXECUTABLE ON)
endif()

# fasm.exe, assembled from fasm's own source by the build machine's Linux fasm.
find_program(AKQP_LINUX_FASM fasm REQUIRED)
set(fasm_archive ${AKQP_WIN32_PREFIX}/src/fasm-1.73.30.tar.gz)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/fasm.exe
  COMMAND sh ${CMAKE_SOURCE_DIR}/windows/build-fasm.sh ${AKQP_LINUX_FASM} ${fasm_archive}
          ${CMAKE_CURRENT_BINARY_DIR}/fasm-source ${CMAKE_BINARY_DIR}/fasm.exe
  DEPENDS ${fasm_archive} ${CMAKE_SOURCE_DIR}/windows/build-fasm.sh
  COMMENT "Assembling fasm.exe from fasm's source")
add_custom_target(akqp_fasm_exe ALL DEPENDS ${CMAKE_BINARY_DIR}/fasm.exe)

# The 32-bit Lua of the same source: tests load stored chunks with it, as the host would.
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/tools/lua.exe ${CMAKE_BINARY_DIR}/tools/luac.exe
  COMMAND ${CMAKE_COMMAND} -E copy ${AKQP_WIN32_PREFIX}/bin/lua.exe ${AKQP_WIN32_PREFIX}/bin/luac.exe
          ${CMAKE_BINARY_DIR}/tools/
  DEPENDS ${AKQP_WIN32_PREFIX}/bin/lua.exe ${AKQP_WIN32_PREFIX}/bin/luac.exe
  COMMENT "Copying lua.exe and luac.exe")
add_custom_target(akqp_win32_lua ALL
  DEPENDS ${CMAKE_BINARY_DIR}/tools/lua.exe ${CMAKE_BINARY_DIR}/tools/luac.exe)

# The zip a Windows user unpacks.
set(AKQP_WIN32_ZIP ${CMAKE_BINARY_DIR}/akqp-${PROJECT_VERSION}-win32.zip)
file(GLOB_RECURSE asm_files CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/asm/*)
set(zip_programs akqp-cli qpmake qpinfo)
if(TARGET akqp)
  list(APPEND zip_programs akqp)
else()
  message(WARNING "The zip needs the window program (AKQP_GUI)")
endif()
add_custom_command(
  OUTPUT ${AKQP_WIN32_ZIP}
  COMMAND ${CMAKE_COMMAND} -DBIN=${CMAKE_BINARY_DIR} -DSOURCE=${CMAKE_SOURCE_DIR}
          -DLICENSES=${AKQP_WIN32_PREFIX}/share/licenses -DVERSION=${PROJECT_VERSION}
          -DZIP=${AKQP_WIN32_ZIP} -DSTAGE=${CMAKE_CURRENT_BINARY_DIR}/zip-stage
          -P ${CMAKE_SOURCE_DIR}/windows/make-zip.cmake
  DEPENDS ${zip_programs} ${CMAKE_BINARY_DIR}/fasm.exe ${asm_files}
          ${CMAKE_SOURCE_DIR}/docs/help/akqp.html ${CMAKE_SOURCE_DIR}/windows/README-windows.txt
          ${CMAKE_SOURCE_DIR}/windows/make-zip.cmake
  COMMENT "Packing akqp-${PROJECT_VERSION}-win32.zip")
add_custom_target(akqp_win32_zip ALL DEPENDS ${AKQP_WIN32_ZIP})

# The zip, unpacked into an empty folder, is all a user needs.
add_test(NAME win32_zip
         COMMAND sh ${CMAKE_SOURCE_DIR}/windows/tests/zip_test.sh ${AKQP_WIN32_ZIP}
                 ${CMAKE_SOURCE_DIR})
set_tests_properties(win32_zip PROPERTIES TIMEOUT 300)

# The same QP files from the Linux build and from akqp-cli.exe. The Linux build is the
# one `make test` makes; without it the test is skipped.
set(AKQP_LINUX_BUILD_DIR ${CMAKE_SOURCE_DIR}/build CACHE PATH
    "The Linux build the Windows programs are compared with")
add_test(NAME win32_same_bytes
         COMMAND sh ${CMAKE_SOURCE_DIR}/windows/tests/same_bytes_test.sh ${AKQP_LINUX_BUILD_DIR}
                 ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
set_tests_properties(win32_same_bytes PROPERTIES TIMEOUT 1200 SKIP_RETURN_CODE 77)
