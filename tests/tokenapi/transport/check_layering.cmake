# No include runs past a layer's neighbour: no file under DIR (or under any
# of DIRS, a list with commas between its items) includes a header whose
# path matches PATTERN.
#   cmake -DDIR=<tokenapi/transport> -P check_layering.cmake
#     the transport includes nothing of the command layer or the public API
#   cmake -DROOT=<src> -DDIRS=<a,b> -DPATTERN=<regex> -P check_layering.cmake
if(NOT DEFINED PATTERN)
  set(PATTERN "tokenapi/(commands|api)/")
endif()
if(NOT DEFINED DIRS)
  set(DIRS ${DIR})
  set(ROOT ${DIR})
endif()
string(REPLACE "," ";" DIRS "${DIRS}")
set(files)
foreach(d ${DIRS})
  if(NOT IS_ABSOLUTE "${d}")
    set(d ${ROOT}/${d})
  endif()
  file(GLOB_RECURSE found ${d}/*.h ${d}/*.cpp)
  list(APPEND files ${found})
endforeach()
set(offenders)
foreach(f ${files})
  file(STRINGS ${f} lines REGEX "#include \"${PATTERN}")
  if(lines)
    list(APPEND offenders "${f}: ${lines}")
  endif()
endforeach()
if(offenders)
  string(REPLACE ";" "\n" text "${offenders}")
  message(FATAL_ERROR "includes that run past the layer below:\n${text}")
endif()
