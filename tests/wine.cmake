# Registers tests that run Windows programs of the 32- and 64-bit build trees
# under Wine. One Wine prefix for the whole run lives in this build tree; a
# fixture creates it before the first Wine test.
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
set(MARVOSTELL_RUN_WINE ${CMAKE_SOURCE_DIR}/tests/run-wine)

if(MARVOSTELL_WINE_TARGETS)
  add_test(NAME wine.prefix COMMAND ${MARVOSTELL_RUN_WINE} --init)
  set_tests_properties(wine.prefix PROPERTIES FIXTURES_SETUP wine
    ENVIRONMENT "WINEPREFIX=${MARVOSTELL_WINEPREFIX}" TIMEOUT 300)
endif()

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
    set_tests_properties(${W_NAME}.${target} PROPERTIES FIXTURES_REQUIRED wine
      ENVIRONMENT "WINEPREFIX=${MARVOSTELL_WINEPREFIX}" TIMEOUT 600)
  endforeach()
endfunction()
