# What `cmake --install` puts under the prefix, by component:
#   Runtime      the shared library (its SONAME links) or Marvostell.dll
#   Development  headers, import libraries, CMake package, pkg-config file,
#                man pages of the API, guides, the examples' sources
#   Tools        marvostell-check, marvostell-manifest, marvostell-test-server
#                (POSIX only) and their man pages
include(CMakePackageConfigHelpers)

set(MARVOSTELL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Marvostell)

install(TARGETS marvostell EXPORT MarvostellTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime
    NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
if(MARVOSTELL_MSVC_IMPORT_LIBRARY)
  install(FILES ${MARVOSTELL_MSVC_IMPORT_LIBRARY} DESTINATION ${CMAKE_INSTALL_LIBDIR}
    COMPONENT Development)
endif()
install(FILES include/marvostell.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  COMPONENT Development)
if(WIN32)
  install(FILES include/marvostell_load.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
    COMPONENT Development)
endif()

# find_package(Marvostell) gives Marvostell::marvostell.
install(EXPORT MarvostellTargets NAMESPACE Marvostell::
  DESTINATION ${MARVOSTELL_CMAKE_DIR} COMPONENT Development)
configure_package_config_file(cmake/MarvostellConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/MarvostellConfig.cmake
  INSTALL_DESTINATION ${MARVOSTELL_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/MarvostellConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/MarvostellConfig.cmake
  ${CMAKE_CURRENT_BINARY_DIR}/MarvostellConfigVersion.cmake
  DESTINATION ${MARVOSTELL_CMAKE_DIR} COMPONENT Development)

if(NOT WIN32)
  # pkg-config file with plain paths under ${prefix}, which is the prefix of
  # the install itself (--prefix, or CMAKE_INSTALL_PREFIX; a DESTDIR or
  # CPack's staging is no part of it), so it is written at install time.
  file(RELATIVE_PATH MARVOSTELL_PC_LIBDIR ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_LIBDIR})
  file(RELATIVE_PATH MARVOSTELL_PC_INCLUDEDIR ${CMAKE_INSTALL_PREFIX}
    ${CMAKE_INSTALL_FULL_INCLUDEDIR})
  set(MARVOSTELL_PC_PREFIX "@MARVOSTELL_PC_PREFIX@")
  set(pc_template ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/marvostell.pc.in)
  configure_file(cmake/marvostell.pc.in ${pc_template} @ONLY)
  install(CODE "set(MARVOSTELL_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
    configure_file(\"${pc_template}\" \"${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/marvostell.pc\" @ONLY)"
    COMPONENT Development)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/pkgconfig/marvostell.pc
    DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT Development)
endif()

# The shipped tools that this tree has, installed beside the module. They link
# the static core, not the library, so they need no search path; on Linux their
# man pages (docs/man/<tool>.1, configured with the version) go along, plain
# here and compressed in the .debs (cmake/DebianDocs.cmake).
foreach(tool marvostell-check marvostell-manifest marvostell-test-server)
  if(NOT TARGET ${tool})
    continue()
  endif()
  install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Tools)
  if(NOT WIN32)
    configure_file(docs/man/${tool}.1 ${PROJECT_BINARY_DIR}/man/${tool}.1 @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/man/${tool}.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1
      COMPONENT Tools)
  endif()
endforeach()

# The API's man pages: CheckNewVersion(3) is a .so link to CheckNewVersionEx(3).
foreach(page CheckNewVersionEx.3 CheckNewVersion.3)
  configure_file(docs/man/${page} ${PROJECT_BINARY_DIR}/man/${page} @ONLY)
  install(FILES ${PROJECT_BINARY_DIR}/man/${page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man3
    COMPONENT Development)
endforeach()

# The guides and the examples' sources keep their places beside README.md,
# so that the links between them hold in the packages; not the page on the
# project's own tests, nor the Windows zip's README (cmake/WindowsZip.cmake).
install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
  COMPONENT Development)
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/docs COMPONENT Development
  FILES_MATCHING PATTERN "*.md" PATTERN "*.png" PATTERN "man" EXCLUDE
  PATTERN "tests.md" EXCLUDE PATTERN "windows-zip" EXCLUDE)
install(DIRECTORY examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples COMPONENT Development
  PATTERN "examples/CMakeLists.txt" EXCLUDE)

if(NOT WIN32)
  include(cmake/MarvostellPackage.cmake)
endif()
