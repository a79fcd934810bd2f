# Run by cpack after it has made a package, to make it the same from build
# to build whatever the builder's user, umask and time zone.
#
# A zip is made again from the files cpack staged for it: the files in name
# order, each with the time SOURCE_DATE_EPOCH (in UTC, as the zip's DOS
# times are local) and the permissions it was installed with, and no extra
# fields (Info-ZIP's -X), which would carry the builder's user and group ids.
#
# cpack writes a .deb's members in name order, owned by root, with
# SOURCE_DATE_EPOCH's time, but the ar archive around them takes each
# member's permissions from the umask; they are set to 0644 here.
foreach(pkg ${CPACK_PACKAGE_FILES})
  if(pkg MATCHES "\\.deb$")
    # ar: "!<arch>\n", then each member's 60-byte header (the mode is 8
    # bytes at 40, the size 10 at 48) and its data, padded to an even size.
    file(SIZE ${pkg} total)
    set(at 8)
    while(at LESS total)
      file(READ ${pkg} header OFFSET ${at} LIMIT 60)
      string(SUBSTRING "${header}" 48 10 size)
      string(STRIP "${size}" size)
      if(NOT size MATCHES "^[0-9]+$")
        message(FATAL_ERROR "${pkg}: no ar member header at ${at}")
      endif()
      math(EXPR modeat "${at} + 40")
      execute_process(COMMAND sh -c "printf '%-8s' 100644 | dd of=\"$1\" bs=1 seek=$2 conv=notrunc status=none"
                              sh ${pkg} ${modeat} COMMAND_ERROR_IS_FATAL ANY)
      math(EXPR at "${at} + 60 + ${size} + ${size} % 2")
    endwhile()
  endif()
  if(NOT pkg MATCHES "\\.zip$")
    continue()
  endif()
  find_program(ZIP zip)
  if(NOT ZIP)
    message(FATAL_ERROR "zip (Info-ZIP) is needed to make ${pkg} reproducible")
  endif()
  set(top ${CPACK_TOPLEVEL_DIRECTORY})
  if(CPACK_INCLUDE_TOPLEVEL_DIRECTORY)
    file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${top} ${top}/${CPACK_PACKAGE_FILE_NAME}/*)
  else()
    file(GLOB_RECURSE files LIST_DIRECTORIES false RELATIVE ${CPACK_TEMPORARY_DIRECTORY} ${CPACK_TEMPORARY_DIRECTORY}/*)
    set(top ${CPACK_TEMPORARY_DIRECTORY})
  endif()
  list(SORT files)
  if(DEFINED ENV{SOURCE_DATE_EPOCH})
    execute_process(COMMAND touch -h -d @$ENV{SOURCE_DATE_EPOCH} ${files} WORKING_DIRECTORY ${top}
                    COMMAND_ERROR_IS_FATAL ANY)
  endif()
  file(REMOVE ${pkg})
  execute_process(COMMAND ${CMAKE_COMMAND} -E env TZ=UTC LC_ALL=C ${ZIP} -q -X -D ${pkg} ${files}
                  WORKING_DIRECTORY ${top} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
