# Assembles the Windows zip from the 32- and 64-bit build trees:
#
#   cmake -D WIN32_DIR=<tree> -D WIN64_DIR=<tree> -D OUTPUT_DIR=<dir> -P cmake/WindowsZip.cmake
#
# marvostell-<version>-windows/
#   x86/ x64/      Marvostell.dll, its import library (libMarvostell.dll.a)
#                  and the tools, each folder of one width
#   include/       marvostell.h, marvostell_load.h
#   Marvostell.def the export list, to make an import library with other linkers
#   LICENSE, CHANGELOG.md
#   docs/          the guides
#   examples/      the example hosts' sources
foreach(var WIN32_DIR WIN64_DIR OUTPUT_DIR)
  if(NOT ${var})
    message(FATAL_ERROR "WindowsZip: ${var} is not set")
  endif()
endforeach()
get_filename_component(SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
file(READ ${SOURCE_DIR}/CMakeLists.txt top)
string(REGEX MATCH "project\\(Marvostell VERSION ([0-9.]+)" _ "${top}")
set(name marvostell-${CMAKE_MATCH_1}-windows)
set(stage ${OUTPUT_DIR}/${name}.stage)
set(top ${stage}/${name})
file(REMOVE_RECURSE ${stage})

foreach(width x86 x64)
  if(width STREQUAL x86)
    set(tree ${WIN32_DIR})
  else()
    set(tree ${WIN64_DIR})
  endif()
  execute_process(COMMAND ${CMAKE_COMMAND} --install ${tree} --prefix ${stage}/${width} --strip
    RESULT_VARIABLE failed OUTPUT_QUIET)
  if(failed)
    message(FATAL_ERROR "WindowsZip: cannot install ${tree}")
  endif()
  file(GLOB programs ${stage}/${width}/bin/*)
  file(COPY ${programs} ${stage}/${width}/lib/libMarvostell.dll.a DESTINATION ${top}/${width})
endforeach()

file(COPY ${stage}/x86/include/ DESTINATION ${top}/include)
file(COPY ${stage}/x86/share/doc/marvostell/ DESTINATION ${top}/docs)
# The licence and the changelog at the top, where a reader looks first.
file(REMOVE ${top}/docs/LICENSE ${top}/docs/CHANGELOG.md)
file(COPY ${SOURCE_DIR}/LICENSE ${SOURCE_DIR}/CHANGELOG.md DESTINATION ${top})
file(COPY ${SOURCE_DIR}/examples/ DESTINATION ${top}/examples)
file(READ ${SOURCE_DIR}/res/marvostell.def def)
string(REGEX REPLACE "LIBRARY[^\n]*" "LIBRARY \"Marvostell.dll\"" def "${def}")
file(WRITE ${top}/Marvostell.def "${def}")

file(REMOVE ${OUTPUT_DIR}/${name}.zip)
execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${OUTPUT_DIR}/${name}.zip --format=zip ${name}
  WORKING_DIRECTORY ${stage} RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "WindowsZip: cannot write ${name}.zip")
endif()
file(REMOVE_RECURSE ${stage})
message(STATUS "Windows zip: ${OUTPUT_DIR}/${name}.zip")
