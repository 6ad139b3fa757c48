# CPack runs this on the built .debs (CPACK_POST_BUILD_SCRIPTS). CPackDeb
# writes postinst and postrm scripts that call ldconfig into the library's
# package; Debian wants the ldconfig trigger instead (cmake/debian/triggers),
# so those scripts are taken out, and only when ldconfig is all they do.
foreach(deb IN LISTS CPACK_PACKAGE_FILES)
  set(tree ${deb}.tree)
  file(REMOVE_RECURSE ${tree})
  execute_process(COMMAND dpkg-deb -R ${deb} ${tree} RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "DebianTrigger: cannot unpack ${deb}")
  endif()
  set(changed OFF)
  foreach(script postinst postrm)
    set(file ${tree}/DEBIAN/${script})
    if(EXISTS ${file} AND EXISTS ${tree}/DEBIAN/triggers)
      file(READ ${file} text)
      string(REGEX REPLACE "#![^\n]*|set -e|if \\[ \"\\$1\" = \"[a-z]+\" \\]; then|ldconfig|fi|[ \t\n]" ""
        rest "${text}")
      if(rest STREQUAL "")
        file(REMOVE ${file})
        set(changed ON)
      endif()
    endif()
  endforeach()
  if(changed)
    execute_process(COMMAND dpkg-deb --root-owner-group -b ${tree} ${deb}
      RESULT_VARIABLE failed OUTPUT_QUIET)
    if(failed)
      message(FATAL_ERROR "DebianTrigger: cannot rebuild ${deb}")
    endif()
  endif()
  file(REMOVE_RECURSE ${tree})
endforeach()
