# Packs the Windows programs into one zip a user unpacks and runs (cmake -P).
#   -DBIN=<build folder> -DSOURCE=<source folder> -DLICENSES=<prefix>/share/licenses
#   -DVERSION=<version> -DZIP=<zip file> -DSTAGE=<scratch folder>
# Text files get CR LF line ends, so that every Windows editor shows them properly.
foreach(var BIN SOURCE LICENSES VERSION ZIP STAGE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "make-zip.cmake: ${var} is not set")
  endif()
endforeach()

function(copy_text from to)
  file(READ ${from} text)
  string(REPLACE "\r\n" "\n" text "${text}")
  string(REPLACE "\n" "\r\n" text "${text}")
  string(REPLACE "@AKQP_VERSION@" "${VERSION}" text "${text}")
  get_filename_component(folder ${to} DIRECTORY)
  file(MAKE_DIRECTORY ${folder})
  file(WRITE ${to} "${text}")
endfunction()

file(REMOVE_RECURSE ${STAGE})
file(MAKE_DIRECTORY ${STAGE})

foreach(program akqp-cli qpmake qpinfo akqp fasm)
  if(NOT EXISTS ${BIN}/${program}.exe)
    message(FATAL_ERROR "make-zip.cmake: ${BIN}/${program}.exe is missing")
  endif()
  file(COPY ${BIN}/${program}.exe DESTINATION ${STAGE})
endforeach()

file(GLOB_RECURSE asm_files RELATIVE ${SOURCE}/asm ${SOURCE}/asm/*)
file(MAKE_DIRECTORY ${STAGE}/asm)
foreach(name ${asm_files})
  get_filename_component(dir ${STAGE}/asm/${name} DIRECTORY)
  file(COPY ${SOURCE}/asm/${name} DESTINATION ${dir})
endforeach()

file(COPY ${SOURCE}/docs/help/akqp.html DESTINATION ${STAGE}/help)
copy_text(${SOURCE}/windows/README-windows.txt ${STAGE}/README.txt)
foreach(part fasm FLTK Lua PCRE2 Expat libpng zlib)
  if(NOT EXISTS ${LICENSES}/${part}.txt)
    message(FATAL_ERROR "make-zip.cmake: the licence text of ${part} is missing")
  endif()
  copy_text(${LICENSES}/${part}.txt ${STAGE}/licenses/${part}.txt)
endforeach()

# Entries in a fixed order with a fixed time, so that the same files give the same zip.
file(GLOB_RECURSE entries RELATIVE ${STAGE} ${STAGE}/*)
list(SORT entries)
file(REMOVE ${ZIP}.tmp)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${ZIP}.tmp --format=zip
                        "--mtime=2000-01-01 00:00:00 UTC" -- ${entries}
                WORKING_DIRECTORY ${STAGE} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "make-zip.cmake: could not write ${ZIP}")
endif()
file(RENAME ${ZIP}.tmp ${ZIP})
