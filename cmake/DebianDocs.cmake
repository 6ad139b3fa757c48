# CPack runs this after staging each component and before building the .debs
# (CPACK_PRE_BUILD_SCRIPTS). It gives each package what Debian's policy asks
# and a plain install does not need:
#   usr/share/doc/<package>/copyright     machine-readable, the MIT licence
#   usr/share/doc/<package>/changelog.gz  CHANGELOG.md in Debian's format
#   man pages compressed with gzip -9n, a ".so" page turned into a symbolic
#   link to the page it names, and no LICENSE beside the guides
set(source ${CPACK_MARVOSTELL_SOURCE_DIR})

# The changelog's dates are RFC 5322 ones, the weekday by Sakamoto's method.
function(rfc_date iso out)
  if(NOT iso MATCHES "^([0-9][0-9][0-9][0-9])-([0-9][0-9])-([0-9][0-9])$")
    message(FATAL_ERROR "DebianDocs: CHANGELOG.md date '${iso}' is not YYYY-MM-DD")
  endif()
  math(EXPR y "${CMAKE_MATCH_1}")
  math(EXPR m "${CMAKE_MATCH_2}")
  math(EXPR d "${CMAKE_MATCH_3}")
  set(offsets 0 3 2 5 0 3 5 1 4 6 2 4)
  math(EXPR i "${m} - 1")
  list(GET offsets ${i} t)
  if(m LESS 3)
    math(EXPR y "${y} - 1")
  endif()
  math(EXPR w "(${y} + ${y} / 4 - ${y} / 100 + ${y} / 400 + ${t} + ${d}) % 7")
  set(days Sun Mon Tue Wed Thu Fri Sat)
  set(months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
  list(GET days ${w} day)
  list(GET months ${i} month)
  set(${out} "${day}, ${CMAKE_MATCH_3} ${month} ${CMAKE_MATCH_1} 00:00:00 +0000" PARENT_SCOPE)
endfunction()

# "## VERSION (DATE)" starts an entry; "- " items and loose paragraphs become
# "  * " items, their continuation lines indented to match.
function(debian_changelog out)
  file(READ ${source}/CHANGELOG.md text)
  # List-safe: CMake splits on ";" and groups on brackets.
  string(REPLACE ";" "<semicolon>" text "${text}")
  string(REPLACE "[" "<open>" text "${text}")
  string(REPLACE "]" "<close>" text "${text}")
  string(REPLACE "\n" ";" lines "${text}")
  set(result "")
  set(trailer "")
  set(in_item OFF)
  foreach(line IN LISTS lines)
    if(line MATCHES "^## ([0-9][0-9.]*) \\(([0-9-]+)\\)$")
      rfc_date(${CMAKE_MATCH_2} date)
      string(APPEND result "${trailer}${CPACK_PACKAGE_NAME} (${CMAKE_MATCH_1}) unstable; urgency=medium\n\n")
      set(trailer "\n -- ${CPACK_PACKAGE_CONTACT}  ${date}\n\n")
      set(in_item OFF)
    elseif(trailer STREQUAL "" OR line STREQUAL "")
      set(in_item OFF)
    elseif(line MATCHES "^- (.*)")
      string(APPEND result "  * ${CMAKE_MATCH_1}\n")
      set(in_item ON)
    elseif(in_item)
      string(STRIP "${line}" line)
      string(APPEND result "    ${line}\n")
    else()
      string(APPEND result "  * ${line}\n")
      set(in_item ON)
    endif()
  endforeach()
  if(trailer STREQUAL "")
    message(FATAL_ERROR "DebianDocs: no '## VERSION (YYYY-MM-DD)' entry in CHANGELOG.md")
  endif()
  string(APPEND result "${trailer}")
  string(REGEX REPLACE "\n\n$" "\n" result "${result}")
  string(REPLACE "<semicolon>" ";" result "${result}")
  string(REPLACE "<open>" "[" result "${result}")
  string(REPLACE "<close>" "]" result "${result}")
  set(${out} "${result}" PARENT_SCOPE)
endfunction()

# DEP-5 with the licence text of LICENSE: each line indented, blank ones " .".
function(debian_copyright out)
  file(READ ${source}/LICENSE licence)
  string(REGEX REPLACE "^.*Copyright \\(c\\) [^\n]*\n\n" "" licence "${licence}")
  string(REGEX REPLACE "\n+$" "" licence "${licence}")
  string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
  string(REGEX REPLACE "\n" "\n " licence "${licence}")
  set(${out} "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Marvostell
Upstream-Contact: ${CPACK_PACKAGE_CONTACT}

Files: *
Copyright: 2026 the Marvostell authors
License: MIT
 ${licence}
" PARENT_SCOPE)
endfunction()

function(gzip_n file)
  execute_process(COMMAND gzip -9nf ${file} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "DebianDocs: gzip -9n ${file} failed")
  endif()
endfunction()

debian_changelog(changelog)
debian_copyright(copyright)
foreach(component IN LISTS CPACK_COMPONENTS_ALL)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  set(usr ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/${component}${CPACK_PACKAGING_INSTALL_PREFIX})
  if(NOT package OR NOT IS_DIRECTORY ${usr})
    message(FATAL_ERROR "DebianDocs: no staged tree for ${component} (${usr})")
  endif()
  set(doc ${usr}/share/doc/${package})
  file(MAKE_DIRECTORY ${doc})
  file(WRITE ${doc}/copyright "${copyright}")
  file(WRITE ${doc}/changelog "${changelog}")
  gzip_n(${doc}/changelog)
  # The copyright file carries the licence; a second copy is noise to Debian.
  file(GLOB licences ${usr}/share/doc/*/LICENSE)
  if(licences)
    file(REMOVE ${licences})
  endif()
  file(GLOB pages ${usr}/share/man/man*/*.[1-9])
  foreach(page IN LISTS pages)
    file(READ ${page} text)
    if(text MATCHES "^\\.so man[1-9]/([^/\n]+)\n?$")
      file(REMOVE ${page})
      file(CREATE_LINK ${CMAKE_MATCH_1}.gz ${page}.gz SYMBOLIC)
    else()
      gzip_n(${page})
    endif()
  endforeach()
endforeach()
