# `make package` (cpack -G DEB in the build folder): akqp_<version>_amd64.deb with the
# layout of install.cmake under /usr. The runtime libraries are found by dpkg-shlibdeps
# from the programs themselves; the assembler is run, not linked, so it is named here.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME akqp)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Ardent Kestrel QP")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${AKQP_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fasm")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "compiler toolchain for modules of the Kestrel plug-in")
# The first line of the package's description is the summary above; this is the rest.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "akqp-cli compiles Lua 5.3 definition scripts, with x86 assembly routines and an
XML verification section, into binary QP files for the Kestrel plug-in of the
AMS host application. qpmake builds many QP files from one makefile, qpinfo
shows what a QP file holds, and akqp is a small window program around the
compiler.")
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
include(CPack)
