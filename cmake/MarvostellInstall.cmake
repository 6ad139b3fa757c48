# What `cmake --install` puts under the prefix, by component:
#   Runtime      the shared library (its SONAME links) or Marvostell.dll
#   Development  headers, import library, CMake package, pkg-config file, guides
#   Tools        marvostell-check, marvostell-manifest, marvostell-test-server
#                (POSIX only) and their man pages
include(CMakePackageConfigHelpers)

set(MARVOSTELL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/Marvostell)

install(TARGETS marvostell EXPORT MarvostellTargets
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT Runtime
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Runtime
    NAMELINK_COMPONENT Development
  ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT Development)
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
  # pkg-config file whose prefix is found from its own place, so that an
  # unpacked package or a prefix given at install time works as well.
  file(RELATIVE_PATH MARVOSTELL_PC_TO_PREFIX ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig
    ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" MARVOSTELL_PC_TO_PREFIX "${MARVOSTELL_PC_TO_PREFIX}")
  file(RELATIVE_PATH MARVOSTELL_PC_LIBDIR ${CMAKE_INSTALL_PREFIX} ${CMAKE_INSTALL_FULL_LIBDIR})
  file(RELATIVE_PATH MARVOSTELL_PC_INCLUDEDIR ${CMAKE_INSTALL_PREFIX}
    ${CMAKE_INSTALL_FULL_INCLUDEDIR})
  configure_file(cmake/marvostell.pc.in ${CMAKE_CURRENT_BINARY_DIR}/marvostell.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/marvostell.pc
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

install(FILES README.md LICENSE CHANGELOG.md DESTINATION ${CMAKE_INSTALL_DOCDIR}
  COMPONENT Development)
# The guides, not the page on the project's own tests.
install(DIRECTORY docs/ DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT Development
  FILES_MATCHING PATTERN "*.md" PATTERN "*.png" PATTERN "man" EXCLUDE
  PATTERN "tests.md" EXCLUDE)

if(NOT WIN32)
  include(cmake/MarvostellPackage.cmake)
endif()
