# The transport depends on nothing above it: no file under DIR includes a
# header of the command layer or of the public API.
# cmake -DDIR=<tokenapi/transport> -P check_layering.cmake
file(GLOB_RECURSE files ${DIR}/*.h ${DIR}/*.cpp)
set(offenders)
foreach(f ${files})
  file(STRINGS ${f} lines REGEX "#include \"tokenapi/(commands|api)/")
  if(lines)
    list(APPEND offenders "${f}: ${lines}")
  endif()
endforeach()
if(offenders)
  string(REPLACE ";" "\n" text "${offenders}")
  message(FATAL_ERROR "the transport includes headers from above it:\n${text}")
endif()
