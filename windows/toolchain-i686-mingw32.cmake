# Cross-building for 32-bit Windows with Debian's mingw-w64, posix thread model (so that
# std::thread and std::condition_variable work). Used for the third-party libraries and for
# the project itself.
#
#   cmake -DCMAKE_TOOLCHAIN_FILE=windows/toolchain-i686-mingw32.cmake -DAKQP_WIN32_PREFIX=<libs>
#
# AKQP_WIN32_PREFIX is the folder the third-party libraries were installed into
# (windows/build-libs.sh prints it); it may also come from the environment.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(AKQP_MINGW_TRIPLE i686-w64-mingw32)
set(AKQP_MINGW_ROOT /usr/${AKQP_MINGW_TRIPLE})
set(CMAKE_C_COMPILER ${AKQP_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${AKQP_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${AKQP_MINGW_TRIPLE}-windres)
# CMake does not see the tool prefix through the "-posix" suffix: name the binutils.
set(CMAKE_AR ${AKQP_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${AKQP_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

if(NOT AKQP_WIN32_PREFIX AND DEFINED ENV{AKQP_WIN32_PREFIX})
  set(AKQP_WIN32_PREFIX "$ENV{AKQP_WIN32_PREFIX}")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES AKQP_WIN32_PREFIX)

# Headers and libraries only from mingw and the prefix; programs (fasm, pkg-config, sh)
# from the build machine.
set(CMAKE_FIND_ROOT_PATH ${AKQP_MINGW_ROOT})
if(AKQP_WIN32_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${AKQP_WIN32_PREFIX})
  list(APPEND CMAKE_PREFIX_PATH ${AKQP_WIN32_PREFIX})
  # pkg-config reads only the prefix's and mingw's .pc files, never the build machine's.
  set(ENV{PKG_CONFIG_LIBDIR} "${AKQP_WIN32_PREFIX}/lib/pkgconfig:${AKQP_MINGW_ROOT}/lib/pkgconfig")
  unset(ENV{PKG_CONFIG_PATH})
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Programs built for Windows run through Wine at build time (the embed tool, test
# discovery) and under ctest.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)

# Statically linked, so that the programs import system DLLs only; optimised and stripped.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -s")
set(CMAKE_C_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")
set(CMAKE_CXX_FLAGS_RELEASE_INIT "-O2 -DNDEBUG")
