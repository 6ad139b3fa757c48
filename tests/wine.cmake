# Registers tests that run Windows programs of the 32- and 64-bit build trees
# under Wine. One Wine prefix for the whole run lives in this build tree; a
# fixture creates it and starts one wineserver before the first Wine test, and
# another stops that server after the last.
set(MARVOSTELL_WINE_TARGETS)
if(MARVOSTELL_WIN32_DIR)
  list(APPEND MARVOSTELL_WINE_TARGETS win32)
  set(MARVOSTELL_WINE_DIR_win32 ${MARVOSTELL_WIN32_DIR})
endif()
if(MARVOSTELL_WIN64_DIR)
  list(APPEND MARVOSTELL_WINE_TARGETS win64)
  set(MARVOSTELL_WINE_DIR_win64 ${MARVOSTELL_WIN64_DIR})
endif()
set(MARVOSTELL_WINEPREFIX ${CMAKE_BINARY_DIR}/wineprefix)

# Where this kernel cannot start the 32-bit Wine loader, the 32-bit tests run
# in an emulated machine (tests/vm/run-in-vm), some twenty times slower than
# here: their time limits grow to match.
set(MARVOSTELL_WIN32_TIME_FACTOR 1)
if(MARVOSTELL_WIN32_DIR)
  set(wine32 $ENV{MARVOSTELL_WINE32})
  if(NOT wine32)
    set(wine32 /usr/lib/wine/wine)
  endif()
  execute_process(COMMAND ${wine32} --version RESULT_VARIABLE wine32_status
    OUTPUT_QUIET ERROR_QUIET)
  if(NOT wine32_status EQUAL 0)
    set(MARVOSTELL_WIN32_TIME_FACTOR 8)
  endif()
endif()
set(MARVOSTELL_RUN_WINE ${CMAKE_SOURCE_DIR}/tests/run-wine)

if(MARVOSTELL_WINE_TARGETS)
  add_test(NAME wine.prefix COMMAND ${MARVOSTELL_RUN_WINE} --init)
  add_test(NAME wine.shutdown COMMAND ${MARVOSTELL_RUN_WINE} --shutdown)
  set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine TIMEOUT 300
    ENVIRONMENT "WINEPREFIX=${MARVOSTELL_WINEPREFIX}")
  set_tests_properties(wine.shutdown PROPERTIES FIXTURES_CLEANUP wine TIMEOUT 60
    ENVIRONMENT "WINEPREFIX=${MARVOSTELL_WINEPREFIX}")
endif()

# marvostell_wine_test_properties(TEST <name> [TIMEOUT <seconds>]) gives a
# Wine test the prefix, the server fixture and CTest's skip code (77), which
# run-wine returns where this machine cannot run the program's width. The
# name holds its target as a part of its own, <area>.<test>.win32 or
# scenario.win32.<name>; the test is labelled "wine" and with that target, so
# that `ctest -L '^win32$'` selects the 32-bit Wine tests.
function(marvostell_wine_test_properties)
  cmake_parse_arguments(W "" "TEST;TIMEOUT" "" ${ARGN})
  if(NOT W_TIMEOUT)
    set(W_TIMEOUT 600)
  endif()
  if(NOT W_TEST MATCHES "(^|[.])(win32|win64)([.]|$)")
    message(FATAL_ERROR "Wine test ${W_TEST}: its name does not say win32 or win64")
  endif()
  set(target ${CMAKE_MATCH_2})
  if(target STREQUAL win32)
    math(EXPR W_TIMEOUT "${W_TIMEOUT} * ${MARVOSTELL_WIN32_TIME_FACTOR}")
  endif()
  set_tests_properties(${W_TEST} PROPERTIES FIXTURES_REQUIRED wine SKIP_RETURN_CODE 77
    ENVIRONMENT "WINEPREFIX=${MARVOSTELL_WINEPREFIX}" TIMEOUT ${W_TIMEOUT}
    LABELS "wine;${target}")
endfunction()

# marvostell_add_wine_test(NAME <name> PROGRAM <exe, relative to the Windows
#   build tree> [ARGS ...]) adds <name>.win32 and <name>.win64. In ARGS,
#   @WINDIR@ stands for the Windows build tree of that width.
function(marvostell_add_wine_test)
  cmake_parse_arguments(W "" "NAME;PROGRAM" "ARGS" ${ARGN})
  foreach(target ${MARVOSTELL_WINE_TARGETS})
    set(dir ${MARVOSTELL_WINE_DIR_${target}})
    string(REPLACE "@WINDIR@" "${dir}" args "${W_ARGS}")
    add_test(NAME ${W_NAME}.${target}
      COMMAND ${MARVOSTELL_RUN_WINE} ${dir}/${W_PROGRAM} ${args})
    marvostell_wine_test_properties(TEST ${W_NAME}.${target})
  endforeach()
endfunction()
