# The library's resource script compiled from a copy that has the device
# layer's resource files nowhere beside it: the resource compiler must stop
# with an error that names the missing file, not build a library without its
# dialogs. With the files beside it, the same call compiles.
# Usage: cmake -DRC=<windres> -DROOT=<checkout> -DWORK=<scratch folder> -P check_rc_requires.cmake
file(REMOVE_RECURSE "${WORK}")
file(MAKE_DIRECTORY "${WORK}/resources/csp")
file(COPY "${ROOT}/resources/csp/merrocsp.rc" DESTINATION "${WORK}/resources/csp")

function(compile result_var error_var)
  execute_process(
    COMMAND "${RC}" -I "${WORK}" -i "${WORK}/resources/csp/merrocsp.rc"
            -o "${WORK}/merrocsp.res"
    WORKING_DIRECTORY "${WORK}"
    RESULT_VARIABLE rc ERROR_VARIABLE err OUTPUT_VARIABLE out)
  set(${result_var} ${rc} PARENT_SCOPE)
  set(${error_var} "${err}${out}" PARENT_SCOPE)
endfunction()

compile(rc err)
if(rc EQUAL 0)
  message(FATAL_ERROR "merrocsp.rc compiled without the device layer's resource files")
endif()
if(NOT err MATCHES "device_strings\\.rc")
  message(FATAL_ERROR "the error does not name the missing file:\n${err}")
endif()

file(COPY "${ROOT}/resources/device" "${ROOT}/resources/images" DESTINATION "${WORK}/resources")
compile(rc err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "merrocsp.rc does not compile with its files present:\n${err}")
endif()
file(REMOVE_RECURSE "${WORK}")
