# Checks the Windows exe's PE header (the format of its width, FORMAT, and the
# console subsystem, so that a double click opens a console for its output)
# and that it needs no DLL beyond those every Windows has:
# the C runtime (msvcrt or the universal CRT's api sets), KERNEL32 and
# ADVAPI32, and those named in ALLOW (comserial-collect also imports SHELL32
# and ole32, for the desktop folder). A libstdc++, libgcc or winpthread DLL
# here means the static link did not take, and the exe would not start on a
# machine without MinGW.
#
#   cmake -DOBJDUMP=<objdump> -DEXE=<comserial.exe> -DFORMAT=pei-x86-64|pei-i386 [-DALLOW=a.dll,b.dll] -P imports.cmake
if(NOT OBJDUMP OR NOT EXE OR NOT FORMAT)
  message(FATAL_ERROR "usage: cmake -DOBJDUMP=... -DEXE=... -DFORMAT=... -P imports.cmake")
endif()
execute_process(COMMAND "${OBJDUMP}" -p "${EXE}" OUTPUT_VARIABLE dump ERROR_VARIABLE err RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "${OBJDUMP} -p ${EXE} failed (${rc}): ${err}")
endif()
if(NOT dump MATCHES "file format ${FORMAT}\n")
  message(FATAL_ERROR "${EXE} is not ${FORMAT}")
endif()
if(NOT dump MATCHES "\nSubsystem[ \t]+00000003[ \t]+\\(Windows CUI\\)")
  message(FATAL_ERROR "${EXE} is not a console program")
endif()
string(REGEX MATCHALL "DLL Name: [^\r\n]+" lines "${dump}")
if(NOT lines)
  message(FATAL_ERROR "no imported DLL found in ${EXE}; is it a PE file?")
endif()
set(bad "")
string(TOLOWER "${ALLOW}" allow)
string(REPLACE "," ";" allow "${allow}")
foreach(line ${lines})
  string(REGEX REPLACE "^DLL Name: *" "" dll "${line}")
  string(STRIP "${dll}" dll)
  string(TOLOWER "${dll}" low)
  list(FIND allow "${low}" allowed)
  if(low STREQUAL "kernel32.dll" OR low STREQUAL "advapi32.dll" OR low STREQUAL "msvcrt.dll"
     OR low MATCHES "^api-ms-win-crt-.*\\.dll$" OR allowed GREATER -1)
    message(STATUS "imports ${dll}")
  else()
    list(APPEND bad "${dll}")
  endif()
endforeach()
if(bad)
  message(FATAL_ERROR "${EXE} imports DLLs that are not part of Windows: ${bad}")
endif()
