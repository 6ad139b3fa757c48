# Assembles the Windows zips from the 32- and 64-bit build trees:
#
#   cmake -D WIN32_DIR=<tree> -D WIN64_DIR=<tree> -D OUTPUT_DIR=<dir> -P cmake/WindowsZip.cmake
#
# marvostell-<version>-windows/
#   README.md      what is where, the two ways to link, the first call
#   x86/ x64/      Marvostell.dll, its import libraries for MinGW
#                  (libMarvostell.dll.a) and Microsoft's linker (Marvostell.lib),
#                  and the tools, each folder of one width
#   include/       marvostell.h, marvostell_load.h
#   cmake/         the CMake package (find_package(Marvostell))
#   man/man3/      CheckNewVersionEx(3), CheckNewVersion(3)
#   Marvostell.def the export list, to make an import library with other linkers
#   LICENSE, CHANGELOG.md
#   docs/          the guides
#   examples/      the Windows examples' sources (win32-gui, csharp)
# marvostell-<version>-windows-symbols/
#   x86/ x64/      <binary>.debug: the DWARF of each binary above, which
#                  names its file in a .gnu_debuglink section
foreach(var WIN32_DIR WIN64_DIR OUTPUT_DIR)
  if(NOT ${var})
    message(FATAL_ERROR "WindowsZip: ${var} is not set")
  endif()
endforeach()
get_filename_component(SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
file(READ ${SOURCE_DIR}/CMakeLists.txt top)
string(REGEX MATCH "project\\(Marvostell VERSION ([0-9.]+)" _ "${top}")
set(version ${CMAKE_MATCH_1})
set(name marvostell-${version}-windows)
set(stage ${OUTPUT_DIR}/${name}.stage)
set(top ${stage}/${name})
set(symbols ${stage}/${name}-symbols)
file(REMOVE_RECURSE ${stage})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE failed OUTPUT_QUIET)
  if(failed)
    list(JOIN ARGN " " command)
    message(FATAL_ERROR "WindowsZip: ${command} failed")
  endif()
endfunction()

foreach(width x86 x64)
  if(width STREQUAL x86)
    set(tree ${WIN32_DIR})
  else()
    set(tree ${WIN64_DIR})
  endif()
  file(STRINGS ${tree}/CMakeCache.txt objcopy REGEX "^CMAKE_OBJCOPY:")
  string(REGEX REPLACE "^[^=]*=" "" objcopy "${objcopy}")
  if(NOT EXISTS "${objcopy}")
    message(FATAL_ERROR "WindowsZip: ${tree} names no objcopy")
  endif()
  run(${CMAKE_COMMAND} --install ${tree} --prefix ${stage}/${width})
  # The debug information goes beside, not into, what ships.
  file(MAKE_DIRECTORY ${symbols}/${width})
  file(GLOB programs ${stage}/${width}/bin/*)
  foreach(program IN LISTS programs)
    get_filename_component(file ${program} NAME)
    run(${objcopy} --only-keep-debug ${program} ${symbols}/${width}/${file}.debug)
    run(${objcopy} --strip-all --add-gnu-debuglink=${symbols}/${width}/${file}.debug ${program})
  endforeach()
  foreach(library libMarvostell.dll.a Marvostell.lib)
    if(NOT EXISTS ${stage}/${width}/lib/${library})
      message(FATAL_ERROR "WindowsZip: ${tree} installed no ${library} (llvm-dlltool missing?)")
    endif()
  endforeach()
  file(COPY ${programs} ${stage}/${width}/lib/libMarvostell.dll.a
    ${stage}/${width}/lib/Marvostell.lib DESTINATION ${top}/${width})
endforeach()

set(doc ${stage}/x86/share/doc/marvostell)
file(COPY ${stage}/x86/include/ DESTINATION ${top}/include)
file(COPY ${stage}/x86/share/man/man3 DESTINATION ${top}/man)
file(COPY ${doc}/docs/ DESTINATION ${top}/docs)
file(COPY ${doc}/examples/win32-gui ${doc}/examples/csharp DESTINATION ${top}/examples)
# The licence and the changelog at the top, where a reader looks first.
file(COPY ${doc}/LICENSE ${doc}/CHANGELOG.md DESTINATION ${top})
configure_file(${SOURCE_DIR}/docs/windows-zip/README.md ${top}/README.md @ONLY)
file(READ ${SOURCE_DIR}/res/marvostell.def def)
string(REGEX REPLACE "LIBRARY[^\n]*" "LIBRARY \"Marvostell.dll\"" def "${def}")
file(WRITE ${top}/Marvostell.def "${def}")

include(CMakePackageConfigHelpers)
file(COPY ${SOURCE_DIR}/cmake/windows-zip/MarvostellConfig.cmake DESTINATION ${top}/cmake)
# The configuration itself picks the width, so any width may ask.
write_basic_package_version_file(${top}/cmake/MarvostellConfigVersion.cmake
  VERSION ${version} COMPATIBILITY SameMajorVersion ARCH_INDEPENDENT)

foreach(archive ${name} ${name}-symbols)
  file(REMOVE ${OUTPUT_DIR}/${archive}.zip)
  execute_process(COMMAND ${CMAKE_COMMAND} -E tar cf ${OUTPUT_DIR}/${archive}.zip --format=zip
    ${archive} WORKING_DIRECTORY ${stage} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "WindowsZip: cannot write ${archive}.zip")
  endif()
  message(STATUS "Windows zip: ${OUTPUT_DIR}/${archive}.zip")
endforeach()
file(REMOVE_RECURSE ${stage})
