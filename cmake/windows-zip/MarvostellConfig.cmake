# find_package(Marvostell) from the unpacked Windows zip (CMAKE_PREFIX_PATH
# names the zip's folder): the imported target Marvostell::marvostell, the
# DLL of the project's width (x86/ or x64/) with the import library its
# linker reads, and the headers of include/.
get_filename_component(_marvostell_top "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
if(NOT WIN32)
  set(Marvostell_FOUND FALSE)
  set(Marvostell_NOT_FOUND_MESSAGE "this is the Windows zip; on Linux use the Debian packages")
  return()
endif()
if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_marvostell_width x64)
elseif(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(_marvostell_width x86)
else()
  set(Marvostell_FOUND FALSE)
  set(Marvostell_NOT_FOUND_MESSAGE "no C or C++ compiler enabled to tell x86 from x64")
  return()
endif()
if(MSVC OR CMAKE_C_SIMULATE_ID STREQUAL "MSVC" OR CMAKE_CXX_SIMULATE_ID STREQUAL "MSVC")
  set(_marvostell_implib Marvostell.lib)
else()
  set(_marvostell_implib libMarvostell.dll.a)
endif()
if(NOT TARGET Marvostell::marvostell)
  add_library(Marvostell::marvostell SHARED IMPORTED)
  set_target_properties(Marvostell::marvostell PROPERTIES
    IMPORTED_LOCATION "${_marvostell_top}/${_marvostell_width}/Marvostell.dll"
    IMPORTED_IMPLIB "${_marvostell_top}/${_marvostell_width}/${_marvostell_implib}"
    INTERFACE_INCLUDE_DIRECTORIES "${_marvostell_top}/include")
endif()
unset(_marvostell_top)
unset(_marvostell_width)
unset(_marvostell_implib)
