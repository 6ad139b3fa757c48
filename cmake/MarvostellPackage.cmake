# Debian packages made by CPack (`scripts/package`), one a component:
#   libmarvostell1     the shared library and its SONAME link
#   libmarvostell-dev  header, .so link, CMake package, pkg-config file, guides
#   marvostell-tools   marvostell-check, marvostell-manifest, man pages
set(CPACK_PACKAGE_NAME marvostell)
set(CPACK_PACKAGE_VENDOR "Marvostell Project")
set(CPACK_PACKAGE_CONTACT "Marvostell Project <packages@marvostell.invalid>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_GENERATOR DEB)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL Runtime Development Tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools need the library of the sibling package: dpkg-shlibdeps finds it in
# this tree, and the dependency on that package comes from the components.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libmarvostell1)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION "update check for host applications - library
One function, CheckNewVersion, fetches an update manifest over HTTP, selects
a newer package, downloads it with progress notifications (resuming a partial
file) and verifies its MD5 digest.")
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libmarvostell-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_DESCRIPTION "update check for host applications - development files
The header marvostell.h, the CMake package (find_package(Marvostell)), the
pkg-config file marvostell.pc and the guide for host developers.")
set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME marvostell-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION "update check for host applications - command-line tools
marvostell-check runs one update check from a shell; marvostell-manifest
helps publishers write and test update manifests.")

# Each component's description: its first line is the synopsis.
include(CPack)
cpack_add_component(Runtime DISPLAY_NAME "Library")
cpack_add_component(Development DISPLAY_NAME "Development files" DEPENDS Runtime)
cpack_add_component(Tools DISPLAY_NAME "Command-line tools" DEPENDS Runtime)
