# The cross build for 32-bit Windows (windows/toolchain-i686-mingw32.cmake): where its
# libraries are. Included by the top-level CMakeLists.txt before it looks for them.
if(NOT AKQP_WIN32_PREFIX OR NOT EXISTS ${AKQP_WIN32_PREFIX}/.complete)
  message(FATAL_ERROR "AKQP_WIN32_PREFIX must name the prefix windows/build-libs.sh built "
                      "(make windows does this)")
endif()
set(AKQP_WIN32_PREFIX ${AKQP_WIN32_PREFIX} CACHE PATH "Third-party libraries for Windows")

# Static libraries only: mingw's zlib also has an import library (.dll.a), which CMake
# would otherwise prefer, and the programs must import system DLLs only.
set(CMAKE_FIND_LIBRARY_SUFFIXES .a)

# The window program takes FLTK from the prefix, not the build machine's fltk-config.
set(FLTK_CONFIG ${AKQP_WIN32_PREFIX}/bin/fltk-config CACHE FILEPATH "fltk-config of the prefix" FORCE)

# GCC 12 warns wrongly about overlapping copies inside std::string when it inlines them
# for 32-bit targets at -O3, the Release level (GCC bug 105329); the code it names is the
# library's own.
add_compile_options(-Wno-restrict)
