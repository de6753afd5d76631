# Shared compile settings and the helpers every folder uses to declare
# its libraries, programs and tests.

set(MERRO_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)

add_library(merro_options INTERFACE)
target_include_directories(merro_options INTERFACE ${MERRO_ROOT})
target_compile_definitions(merro_options INTERFACE
  OPENSSL_API_COMPAT=30000 OPENSSL_NO_DEPRECATED)
target_compile_options(merro_options INTERFACE
  -Wall -Wextra -Wno-unused-parameter -Wno-missing-field-initializers)
if(WIN32)
  target_compile_definitions(merro_options INTERFACE
    UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  target_link_options(merro_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()
if(MERRO_WITH_SIMULATOR)
  target_compile_definitions(merro_options INTERFACE MERRO_WITH_SIMULATOR=1)
endif()
if(MERRO_SANITIZE)
  target_compile_options(merro_options INTERFACE
    -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(merro_options INTERFACE -fsanitize=address,undefined)
endif()

# merro_library(NAME SOURCES... [DEPS libs...])
function(merro_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PUBLIC merro_options ${ARG_DEPS})
endfunction()

# merro_test(NAME SOURCES... [DEPS libs...]): one GoogleTest executable,
# registered as one ctest entry (under Wine each process costs a start-up).
function(merro_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE merro_options ${ARG_DEPS} GTest::gtest_main GTest::gtest)
  add_test(NAME ${name} COMMAND ${name})
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()
