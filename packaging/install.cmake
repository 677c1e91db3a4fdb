# What `cmake --install build --prefix P` (and `make install PREFIX=P`) puts where:
#
#   P/bin/                                akqp-cli, qpmake, qpinfo, akqp
#   P/share/akqp/asm/, P/share/akqp/help/ the include folder and the help page, found by
#                                         the programs as ../share/akqp/ from bin/
#   P/share/man/man1/                     the manual pages
#   P/share/applications/, P/share/icons/ akqp's desktop entry and icon
#   P/share/bash-completion/completions/  completion for the command-line programs
#   P/share/doc/akqp/                     copyright and changelog
#
# Every path is relative to the prefix, so an installed tree works wherever it is put.
set(AKQP_PACKAGE_MAINTAINER
    "Ardent Kestrel QP maintainers <maintainers@users.noreply.c-seed-11e99f84.example>"
    CACHE STRING "The maintainer named in the Debian package and its changelog")

set(AKQP_DATA_DESTINATION share/akqp)
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

install(TARGETS akqp-cli qpmake qpinfo RUNTIME DESTINATION bin)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/asm/ DESTINATION ${AKQP_DATA_DESTINATION}/asm)
install(FILES
  ${CMAKE_SOURCE_DIR}/packaging/completion/akqp-cli
  ${CMAKE_SOURCE_DIR}/packaging/completion/qpmake
  ${CMAKE_SOURCE_DIR}/packaging/completion/qpinfo
  DESTINATION share/bash-completion/completions)

set(AKQP_MAN_PAGES akqp-cli qpmake qpinfo)
if(TARGET akqp)
  install(TARGETS akqp RUNTIME DESTINATION bin)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/help/akqp.html DESTINATION ${AKQP_DATA_DESTINATION}/help)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/akqp.desktop DESTINATION share/applications)
  install(FILES ${CMAKE_SOURCE_DIR}/packaging/akqp.svg
          DESTINATION share/icons/hicolor/scalable/apps)
  list(APPEND AKQP_MAN_PAGES akqp)
endif()

# Manual pages and the changelog are installed compressed, as Debian keeps them (-n: no
# name or time stamp in the archive, so the result does not change between builds).
find_program(AKQP_GZIP gzip REQUIRED)
set(AKQP_COMPRESSED)
foreach(page ${AKQP_MAN_PAGES})
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.1.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${AKQP_GZIP} -9nc ${CMAKE_SOURCE_DIR}/docs/man/${page}.1 > ${CMAKE_BINARY_DIR}/man/${page}.1.gz
    DEPENDS ${CMAKE_SOURCE_DIR}/docs/man/${page}.1
    VERBATIM)
  list(APPEND AKQP_COMPRESSED ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  install(FILES ${CMAKE_BINARY_DIR}/man/${page}.1.gz DESTINATION share/man/man1)
endforeach()
configure_file(${CMAKE_SOURCE_DIR}/packaging/changelog.in ${CMAKE_BINARY_DIR}/doc/changelog @ONLY)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND ${AKQP_GZIP} -9nc ${CMAKE_BINARY_DIR}/doc/changelog > ${CMAKE_BINARY_DIR}/doc/changelog.gz
  DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog
  VERBATIM)
list(APPEND AKQP_COMPRESSED ${CMAKE_BINARY_DIR}/doc/changelog.gz)
add_custom_target(akqp_install_docs ALL DEPENDS ${AKQP_COMPRESSED})
install(FILES ${CMAKE_SOURCE_DIR}/packaging/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION share/doc/akqp)
