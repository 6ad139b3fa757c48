# Debian packages made by CPack (`scripts/package`), one a component:
#   libmarvostell1     the shared library and its SONAME link
#   libmarvostell-dev  header, .so link, CMake package, pkg-config file, man
#                      pages of the API, guides, the examples' sources
#   marvostell-tools   marvostell-check, marvostell-manifest, marvostell-test-server,
#                      man pages
set(CPACK_PACKAGE_NAME marvostell)
set(CPACK_PACKAGE_VENDOR "Marvostell Project")
set(CPACK_PACKAGE_CONTACT "Marvostell Project <packages@marvostell.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
# The binaries ship without their debug information, which goes into a
# -dbgsym package of each (.ddeb, by build ID under /usr/lib/debug).
set(CPACK_STRIP_FILES OFF)
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Staged through DESTDIR, so that the install's prefix is /usr itself (the
# pkg-config file is written with it).
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Development Tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# What Debian's policy asks beyond the install: copyright, changelog.gz and
# compressed man pages in each package (read by that script).
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianDocs.cmake)
set(CPACK_POST_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/DebianTrigger.cmake)
set(CPACK_MARVOSTELL_SOURCE_DIR ${PROJECT_SOURCE_DIR})

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libmarvostell1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# The loader's cache is refreshed by dpkg's ldconfig trigger.
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/debian/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "update check for host applications - library
CheckNewVersion fetches an update manifest over HTTP, selects a newer
package, downloads it with progress notifications (resuming a partial file)
and verifies its MD5 digest. CheckNewVersionEx adds cancelling, deadlines,
check only, HTTPS and signed manifests.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libmarvostell-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "update check for host applications - development files
The header marvostell.h, the CMake package (find_package(Marvostell)), the
pkg-config file marvostell.pc, the manual pages CheckNewVersion(3) and
CheckNewVersionEx(3), the guides and the example hosts' sources.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME marvostell-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "update check for host applications - command-line tools
marvostell-check runs one update check from a shell; marvostell-manifest
helps publishers write and test update manifests; marvostell-test-server
serves manifests and packages with chosen network faults, to try a host.")

# Each component's description: its first line is the synopsis.
include(CPack)
cpack_add_component(Runtime DISPLAY_NAME "Library")
cpack_add_component(Development DISPLAY_NAME "Development files" DEPENDS Runtime)
# The tools link the static core: their dependencies are dpkg-shlibdeps' alone.
cpack_add_component(Tools DISPLAY_NAME "Command-line tools")
