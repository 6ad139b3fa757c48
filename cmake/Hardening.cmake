# What ships on Linux carries the protections Debian expects of its packages,
# which lintian checks for: fortified libc calls in optimised builds, the
# stack protector, and relocations read-only and bound at load time. Not in
# the sanitizer trees (ASan, TSan) and the fuzz tree, whose runtimes replace
# those libc calls; not for the tests, which ship nothing.
#
# marvostell_harden(DIRECTORY dir... [RECURSE]) applies them to the targets
# defined in each directory (and, with RECURSE, in those below it).
function(marvostell_harden)
  cmake_parse_arguments(H "RECURSE" "" "DIRECTORY" ${ARGN})
  if(WIN32 OR MSVC OR MARVOSTELL_SANITIZED OR MARVOSTELL_FUZZ)
    return()
  endif()
  foreach(dir IN LISTS H_DIRECTORY)
    get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(target IN LISTS targets)
      get_target_property(type ${target} TYPE)
      if(type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY|STATIC_LIBRARY|OBJECT_LIBRARY)$")
        target_compile_options(${target} PRIVATE "$<${MARVOSTELL_CODE}:-fstack-protector-strong>"
          "$<$<AND:${MARVOSTELL_CODE},$<NOT:$<CONFIG:Debug>>>:-U_FORTIFY_SOURCE;-D_FORTIFY_SOURCE=2>")
      endif()
      if(type MATCHES "^(EXECUTABLE|SHARED_LIBRARY|MODULE_LIBRARY)$")
        target_link_options(${target} PRIVATE -Wl,-z,relro,-z,now)
      endif()
    endforeach()
    if(H_RECURSE)
      get_property(below DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
      if(below)
        marvostell_harden(DIRECTORY ${below} RECURSE)
      endif()
    endif()
  endforeach()
endfunction()
