# Checks the export table of the provider DLL with objdump -p: exactly the 25
# CryptoAPI provider entry points, at ordinals 1 to 25 in alphabetical order.
# Usage: cmake -DOBJDUMP=<objdump> -DDLL=<merrocsp.dll> -P check_exports.cmake
set(expected
  CPAcquireContext CPCreateHash CPDecrypt CPDeriveKey CPDestroyHash CPDestroyKey
  CPDuplicateHash CPDuplicateKey CPEncrypt CPExportKey CPGenKey CPGenRandom
  CPGetHashParam CPGetKeyParam CPGetProvParam CPGetUserKey CPHashData CPHashSessionKey
  CPImportKey CPReleaseContext CPSetHashParam CPSetKeyParam CPSetProvParam CPSignHash
  CPVerifySignature)

execute_process(COMMAND ${OBJDUMP} -p ${DLL} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "objdump -p ${DLL} failed (${rc})")
endif()

string(REGEX MATCH "Ordinal Base ([0-9]+)" _ "${dump}")
set(base ${CMAKE_MATCH_1})
if(NOT base STREQUAL "1")
  message(FATAL_ERROR "ordinal base is '${base}', expected 1")
endif()

# The named exports: "[ i] name" lines after "[Ordinal/Name Pointer] Table",
# where i is the ordinal less the base.
string(FIND "${dump}" "[Ordinal/Name Pointer] Table" at)
if(at EQUAL -1)
  message(FATAL_ERROR "no export name table in ${DLL}")
endif()
string(SUBSTRING "${dump}" ${at} -1 table)
string(REGEX MATCHALL "\n[ \t]+\\[ *[0-9]+\\] [A-Za-z0-9_@]+" rows "${table}")
set(actual)
set(index 0)
foreach(row IN LISTS rows)
  string(REGEX MATCH "\\[ *([0-9]+)\\] ([A-Za-z0-9_@]+)" _ "${row}")
  math(EXPR ordinal "${CMAKE_MATCH_1} + ${base}")
  math(EXPR want "${index} + 1")
  if(NOT ordinal EQUAL want)
    message(FATAL_ERROR "${CMAKE_MATCH_2} has ordinal ${ordinal}, expected ${want}")
  endif()
  list(APPEND actual ${CMAKE_MATCH_2})
  math(EXPR index "${index} + 1")
endforeach()

# Nothing exported by ordinal only either.
string(REGEX MATCH "Export Address Table[ \t]+([0-9a-fA-F]+)" _ "${dump}")
math(EXPR addresses "0x${CMAKE_MATCH_1}" OUTPUT_FORMAT DECIMAL)

if(NOT actual STREQUAL expected OR NOT addresses EQUAL 25)
  message(FATAL_ERROR "exports of ${DLL}:\n  ${actual}\n(${addresses} addresses)\nexpected:\n  ${expected}")
endif()
message(STATUS "25 exports at ordinals 1-25")
