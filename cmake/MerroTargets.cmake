# Shared compile settings and the helpers every folder uses to declare
# its libraries, programs and tests.

set(MERRO_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
option(MERRO_FUZZ "Build the fuzz targets as libFuzzer programs (clang)" OFF)

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
  # Hardening that Windows expects of a module loaded into other programs:
  # ASLR with high entropy, DEP, stack canaries and checked buffer calls
  # (both from the static libssp). The test programs get the same, so they
  # test what ships.
  target_compile_options(merro_options INTERFACE -fstack-protector-strong)
  target_compile_definitions(merro_options INTERFACE _FORTIFY_SOURCE=2)
  target_link_options(merro_options INTERFACE -fstack-protector-strong
    -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat)
  if(MERRO_SHIPPING)
    # What ships carries no symbol table, no debugging information and no
    # path of the build machine (trace records name sources from the root).
    target_link_options(merro_options INTERFACE -s)
    target_compile_options(merro_options INTERFACE -fmacro-prefix-map=${CMAKE_SOURCE_DIR}/=)
  endif()
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
  if(MERRO_FUZZ)
    # Every library gives the fuzz targets coverage feedback from its code.
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer-no-link)
  endif()
endfunction()

# Under Wine a test program that crashes does not always end with a failing
# exit status (a whole GoogleTest run has been seen to end with 0 after a
# page fault): the crash report Wine prints fails the test instead.
function(merro_fail_on_wine_crash test)
  if(WIN32)
    set_property(TEST ${test} APPEND PROPERTY FAIL_REGULAR_EXPRESSION "Unhandled exception: ")
  endif()
endfunction()

# merro_needs_no_display(TEST): the test's programs show no window; under
# Wine they run with its null graphics driver (scripts/wine-prefix), with no
# display and no X connection of their own.
function(merro_needs_no_display test)
  if(WIN32)
    set_property(TEST ${test} APPEND PROPERTY ENVIRONMENT MERRO_WINE_HEADLESS=1)
  endif()
endfunction()

# merro_test(NAME SOURCES... [DEPS libs...] [OWN_MAIN] [WINE_PREFIX name]):
# one GoogleTest executable, registered as one ctest entry (under Wine each
# process costs a start-up). OWN_MAIN: the sources define main().
# WINE_PREFIX: the Windows tree runs it in a Wine prefix of that name beside
# the shared one, one such test at a time (for tests that change what a
# prefix keeps for every program in it, such as the user's certificate
# store, so that they meet no other test there).
function(merro_test name)
  cmake_parse_arguments(ARG "OWN_MAIN" "WINE_PREFIX" "SOURCES;DEPS;LABELS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
  set(main GTest::gtest_main)
  if(ARG_OWN_MAIN)
    set(main)
  endif()
  target_link_libraries(${name} PRIVATE merro_options ${ARG_DEPS} ${main} GTest::gtest)
  if(WIN32 AND ARG_WINE_PREFIX)
    add_test(NAME ${name} COMMAND ${MERRO_ROOT}/scripts/wine-run
                                  ${CMAKE_BINARY_DIR}/${ARG_WINE_PREFIX} $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK ${ARG_WINE_PREFIX})
  else()
    add_test(NAME ${name} COMMAND ${name})
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  merro_fail_on_wine_crash(${name})
  merro_needs_no_display(${name})
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()

# merro_factory_pin_file(): PinFile.ini beside the test programs of the
# calling folder: the PINs with which InitTokenFile initialises a prepared
# token (DeviceBench, tests/device/support).
function(merro_factory_pin_file)
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/PinFile.ini
    "[User]\npin=47193628\n[Manager]\npin=47193628\n[Unlock]\npin=47193628\n")
endfunction()

# merro_daemon_test(NAME SOURCES... [DEPS libs...] TOKENS n [OWN_MAIN]
#                   [ENVIRONMENT vars...] [WINE_PREFIX name]): a GoogleTest program run against
# the merro-tokensim daemon with n tokens (tests/tokensim/run-with-tokensim).
# Natively it talks to this tree's daemon; the Windows tree runs it under
# Wine against the daemon of the native tree next to it
# (MERRO_TOKENSIM_PROGRAM). OWN_MAIN: the sources define main(). WINE_PREFIX:
# as for merro_test, a prefix of its own (one such test at a time).
if(WIN32)
  set(MERRO_TOKENSIM_PROGRAM ${CMAKE_BINARY_DIR}/../native/tokensim/merro-tokensim
      CACHE FILEPATH "The native merro-tokensim that the Windows tests talk to")
endif()
#
# BEFORE command... -- (used by merro_csp_test): a command that runs first
# and then runs the rest of the command line it is given after "--".
# WINE_PREFIX name (Windows tree): the program runs in that Wine prefix beside
# the shared one, one such test at a time, as merro_test's option does.
function(merro_daemon_test name)
  cmake_parse_arguments(ARG "OWN_MAIN" "TOKENS;WINE_PREFIX" "SOURCES;DEPS;ENVIRONMENT;BEFORE" ${ARGN})
  add_executable(${name} ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
  set(main GTest::gtest_main)
  if(ARG_OWN_MAIN)
    set(main)
  endif()
  target_link_libraries(${name} PRIVATE merro_options ${ARG_DEPS} ${main} GTest::gtest)
  set(run ${MERRO_ROOT}/tests/tokensim/run-with-tokensim)
  if(WIN32 AND ARG_WINE_PREFIX)
    add_test(NAME ${name} COMMAND ${run} ${MERRO_TOKENSIM_PROGRAM} ${ARG_TOKENS} -- ${ARG_BEFORE}
                                  ${MERRO_ROOT}/scripts/wine-run ${CMAKE_BINARY_DIR}/${ARG_WINE_PREFIX}
                                  $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES RESOURCE_LOCK ${ARG_WINE_PREFIX})
  elseif(WIN32)
    add_test(NAME ${name} COMMAND ${run} ${MERRO_TOKENSIM_PROGRAM} ${ARG_TOKENS} -- ${ARG_BEFORE}
                                  ${CMAKE_CROSSCOMPILING_EMULATOR} $<TARGET_FILE:${name}>)
  else()
    add_test(NAME ${name} COMMAND ${run} $<TARGET_FILE:merro-tokensim> ${ARG_TOKENS} -- ${ARG_BEFORE}
                                  $<TARGET_FILE:${name}>)
  endif()
  set_tests_properties(${name} PROPERTIES TIMEOUT 600)
  merro_fail_on_wine_crash(${name})
  if(ARG_ENVIRONMENT)
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "${ARG_ENVIRONMENT}")
  endif()
  merro_needs_no_display(${name})
endfunction()

# merro_csp_test(NAME SOURCES... [DEPS libs...] TOKENS n [OWN_MAIN]
#                [ENVIRONMENT vars...]): merro_daemon_test (Windows tree) whose
# program runs with merrocsp.dll registered as the provider in the tree's
# Wine prefix (scripts/register-csp), so that advapi32 loads it. The program
# finds the DLL itself at MERRO_CSP_DLL_PATH.
function(merro_csp_test name)
  merro_daemon_test(${name} ${ARGN}
    BEFORE ${MERRO_ROOT}/scripts/register-csp ${CMAKE_BINARY_DIR}/wineprefix
           $<TARGET_FILE:merrocsp> --)
  add_dependencies(${name} merrocsp)
  target_compile_definitions(${name} PRIVATE MERRO_CSP_DLL_PATH="$<TARGET_FILE:merrocsp>")
endfunction()

# merro_fuzz_target(NAME SOURCES... [DEPS libs...] [CORPUS dir])
# The sources define LLVMFuzzerTestOneInput. With MERRO_FUZZ (clang) this is
# a libFuzzer program that ctest runs for a bounded time over the corpus;
# otherwise the same code is a replay program that ctest runs over every
# corpus file, so the corpus doubles as regression tests.
set(MERRO_FUZZ_SECONDS 30 CACHE STRING "Time each fuzzer runs under ctest")
function(merro_fuzz_target name)
  cmake_parse_arguments(ARG "" "CORPUS" "SOURCES;DEPS" ${ARGN})
  if(NOT ARG_CORPUS)
    set(ARG_CORPUS ${CMAKE_CURRENT_SOURCE_DIR}/corpus/${name})
  endif()
  add_executable(${name} ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE merro_options ${ARG_DEPS})
  # "merro_fuzzers" builds every fuzz target and what they need, nothing else.
  if(NOT TARGET merro_fuzzers)
    add_custom_target(merro_fuzzers)
  endif()
  add_dependencies(merro_fuzzers ${name})
  if(MERRO_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set(work ${CMAKE_CURRENT_BINARY_DIR}/${name}_corpus)
    set(corpus_exists FALSE)
    if(IS_DIRECTORY ${ARG_CORPUS})
      set(corpus_exists TRUE)
    endif()
    add_test(NAME ${name}_setup COMMAND ${CMAKE_COMMAND} -E make_directory ${work})
    add_test(NAME ${name}
             COMMAND ${name} -max_total_time=${MERRO_FUZZ_SECONDS} -timeout=10
                     -rss_limit_mb=2048 ${work} $<$<BOOL:${corpus_exists}>:${ARG_CORPUS}>)
    set_tests_properties(${name}_setup PROPERTIES FIXTURES_SETUP ${name}_work)
    set_tests_properties(${name} PROPERTIES FIXTURES_REQUIRED ${name}_work LABELS fuzz
                         TIMEOUT 600)
  else()
    target_sources(${name} PRIVATE ${MERRO_ROOT}/tests/support/fuzz_replay_main.cpp)
    add_test(NAME ${name} COMMAND ${name} ${ARG_CORPUS})
  endif()
endfunction()

# merro_ui_test(NAME SOURCES... [DEPS libs...] [LANGUAGES langs...] [TOKENS n]
#               [SHARDS n])
# A test program that shows real dialogs (Windows tree only). Its main()
# comes from tests/support/ui: it first checks that Wine reports the run's
# language. The program is registered once per language (default en_US,
# zh_CN, zh_TW) as NAME_<lang>, each run through scripts/ui-run: its own
# Xvfb, its own Wine prefix <tree>/wineprefix-ui-<lang> made under that
# locale (RESOURCE_LOCK on it), MERRO_UI_LANG, screenshots under
# <tree>/ui-shots/<lang> (MERRO_UI_SHOTS) and merro-uirobot.exe named by
# MERRO_UIROBOT. TOKENS n: the run also has the merro-tokensim daemon with n
# tokens (MERRO_TOKEN_SIM). CSP: merrocsp.dll is registered as the provider
# in the run's prefix first (scripts/register-csp), as for merro_csp_test.
# SHARDS n (a long program): each language's run is cut into n ctest
# entries NAME_<lang>_<i>, each with a part of the tests (GoogleTest's
# shards) and a prefix of its own (wineprefix-ui-<lang>-<i> beside the
# first part's), so that ctest runs them side by side.
# Label "ui".
function(merro_ui_test name)
  cmake_parse_arguments(ARG "CSP" "TOKENS;SHARDS" "SOURCES;DEPS;LANGUAGES" ${ARGN})
  if(NOT ARG_LANGUAGES)
    set(ARG_LANGUAGES en_US zh_CN zh_TW)
  endif()
  if(NOT ARG_SHARDS)
    set(ARG_SHARDS 1)
  endif()
  add_executable(${name} ${ARG_SOURCES} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE merro_options ${ARG_DEPS} merro_ui_test_main
                                        merro_ui_robot GTest::gtest)
  add_dependencies(${name} merro-uirobot)
  set(daemon)
  if(ARG_TOKENS)
    set(daemon ${MERRO_ROOT}/tests/tokensim/run-with-tokensim ${MERRO_TOKENSIM_PROGRAM}
               ${ARG_TOKENS} --)
  endif()
  if(ARG_CSP)
    add_dependencies(${name} merrocsp)
    target_compile_definitions(${name} PRIVATE MERRO_CSP_DLL_PATH="$<TARGET_FILE:merrocsp>")
  endif()
  math(EXPR last_shard "${ARG_SHARDS} - 1")
  foreach(lang IN LISTS ARG_LANGUAGES)
    foreach(shard RANGE ${last_shard})
      set(test ${name}_${lang})
      set(prefix_name wineprefix-ui-${lang})
      set(shard_env)
      if(ARG_SHARDS GREATER 1)
        set(test ${name}_${lang}_${shard})
        if(shard GREATER 0)
          set(prefix_name wineprefix-ui-${lang}-${shard})
        endif()
        set(shard_env ";GTEST_TOTAL_SHARDS=${ARG_SHARDS};GTEST_SHARD_INDEX=${shard}")
      endif()
      set(prefix ${CMAKE_BINARY_DIR}/${prefix_name})
      set(register)
      if(ARG_CSP)
        set(register ${MERRO_ROOT}/scripts/register-csp ${prefix} $<TARGET_FILE:merrocsp> --)
      endif()
      add_test(NAME ${test}
               COMMAND ${MERRO_ROOT}/scripts/ui-run ${lang} -- ${daemon} ${register}
                       ${MERRO_ROOT}/scripts/wine-run ${prefix} $<TARGET_FILE:${name}>)
      merro_fail_on_wine_crash(${test})
      # The time-out only ends a run that hangs: a loaded two-core machine
      # takes several times as long as an idle one.
      set_tests_properties(${test} PROPERTIES
        TIMEOUT 600
        LABELS ui
        RESOURCE_LOCK ${prefix_name}
        ENVIRONMENT "MERRO_UI_PREFIX=${prefix};MERRO_UI_SHOTS=${CMAKE_BINARY_DIR}/ui-shots;MERRO_UIROBOT=$<TARGET_FILE:merro-uirobot>${shard_env}")
    endforeach()
  endforeach()
endfunction()
