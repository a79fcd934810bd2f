# Builds the target of another preset's build tree, configuring that tree
# first if it has never been.
#
#   cmake -DSOURCE=<dir> -DPRESET=<name> -DBINARY=<its build dir> -DTARGET=<target> -P buildpreset.cmake
if(NOT EXISTS ${BINARY}/CMakeCache.txt)
  execute_process(COMMAND ${CMAKE_COMMAND} --preset ${PRESET} WORKING_DIRECTORY ${SOURCE} COMMAND_ERROR_IS_FATAL ANY)
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${BINARY} --target ${TARGET} COMMAND_ERROR_IS_FATAL ANY)
