# Runs one golden case: the export on standard input, once with no argument
# (debug mode) and once with one, comparing standard output byte for byte and
# the exit status with what the case expects.
#
#   cmake -DTOOL=<comserial> -DCASE=<dir/NAME> -DOUTDIR=<dir> [-DWRAP=<valgrind ...>] [-DSAMEERR=<comserial>] -P golden.cmake
#
# SAMEERR names the native build for another build of the tool (the web
# build under node): standard error, the skipped-line reports and notes that
# only these builds print, must then be the same as that build's.
#
# A case is NAME.reg, NAME.debug.out, NAME.quiet.out and NAME.exit, which
# holds the two exit statuses, debug first.
if(NOT TOOL OR NOT CASE)
  message(FATAL_ERROR "usage: cmake -DTOOL=... -DCASE=... -P golden.cmake")
endif()
file(READ "${CASE}.exit" statuses)
string(STRIP "${statuses}" statuses)
string(REPLACE " " ";" statuses "${statuses}")
list(GET statuses 0 debugstatus)
list(GET statuses 1 quietstatus)
separate_arguments(wrap UNIX_COMMAND "${WRAP}")
get_filename_component(name "${CASE}" NAME)

set(failed FALSE)
foreach(mode debug quiet)
  if(mode STREQUAL "debug")
    set(args "")
    set(want ${debugstatus})
  else()
    set(args "-q")
    set(want ${quietstatus})
  endif()
  execute_process(COMMAND ${wrap} "${TOOL}" ${args}
    INPUT_FILE "${CASE}.reg"
    OUTPUT_VARIABLE out
    ERROR_VARIABLE err
    RESULT_VARIABLE rc)
  file(READ "${CASE}.${mode}.out" expected)
  if(NOT out STREQUAL expected)
    file(WRITE "${OUTDIR}/${name}.${mode}.actual" "${out}")
    message(SEND_ERROR "${mode}: output differs from ${CASE}.${mode}.out; see ${OUTDIR}/${name}.${mode}.actual\n${err}")
    set(failed TRUE)
  endif()
  if(NOT rc STREQUAL want)
    message(SEND_ERROR "${mode}: exit status ${rc}, expected ${want}\n${err}")
    set(failed TRUE)
  endif()
  if(SAMEERR)
    execute_process(COMMAND "${SAMEERR}" ${args} INPUT_FILE "${CASE}.reg" OUTPUT_QUIET ERROR_VARIABLE nativeerr)
    if(NOT err STREQUAL nativeerr)
      message(SEND_ERROR "${mode}: standard error differs from the native build's:\n${err}\n-- native:\n${nativeerr}")
      set(failed TRUE)
    endif()
  endif()
endforeach()
if(failed)
  message(FATAL_ERROR "golden case ${CASE} failed")
endif()
