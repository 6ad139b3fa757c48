# The linker names the import library after the export directory
# ("Corvalandine.dll"), a file that does not exist: a host linked with it would
# not start. After each link, replace it with one that names Marvostell.dll.
set(MARVOSTELL_DLL_NAME Marvostell.dll)
if(MINGW)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(MARVOSTELL_DLLTOOL_MACHINE i386:x86-64)
  else()
    set(MARVOSTELL_DLLTOOL_MACHINE i386)
  endif()
  add_custom_command(TARGET marvostell POST_BUILD
    COMMAND ${CMAKE_DLLTOOL} -m ${MARVOSTELL_DLLTOOL_MACHINE}
      -d ${PROJECT_SOURCE_DIR}/res/marvostell.def -D ${MARVOSTELL_DLL_NAME}
      -l $<TARGET_LINKER_FILE:marvostell>
    COMMENT "Import library naming ${MARVOSTELL_DLL_NAME}"
    VERBATIM)
  # And Marvostell.lib for Microsoft's linker (MSVC, lld-link), in its own
  # short import format, which llvm-dlltool writes from the same .def.
  find_program(MARVOSTELL_LLVM_DLLTOOL NAMES llvm-dlltool)
  if(MARVOSTELL_LLVM_DLLTOOL)
    set(MARVOSTELL_MSVC_IMPORT_LIBRARY ${CMAKE_CURRENT_BINARY_DIR}/Marvostell.lib)
    add_custom_command(TARGET marvostell POST_BUILD
      COMMAND ${MARVOSTELL_LLVM_DLLTOOL} -m ${MARVOSTELL_DLLTOOL_MACHINE}
        -d ${PROJECT_SOURCE_DIR}/res/marvostell.def -D ${MARVOSTELL_DLL_NAME}
        -l ${MARVOSTELL_MSVC_IMPORT_LIBRARY}
      COMMENT "Marvostell.lib for Microsoft's linker"
      VERBATIM)
  else()
    message(STATUS "No llvm-dlltool: no Marvostell.lib for Microsoft's linker")
  endif()
elseif(MSVC)
  # lib.exe takes the module name from the .def, so give it one that names the file.
  file(READ ${PROJECT_SOURCE_DIR}/res/marvostell.def MARVOSTELL_DEF)
  string(REGEX REPLACE "LIBRARY[^\n]*" "LIBRARY \"${MARVOSTELL_DLL_NAME}\""
    MARVOSTELL_DEF "${MARVOSTELL_DEF}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/marvostell-import.def "${MARVOSTELL_DEF}")
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(MARVOSTELL_LIB_MACHINE X64)
  else()
    set(MARVOSTELL_LIB_MACHINE X86)
  endif()
  add_custom_command(TARGET marvostell POST_BUILD
    COMMAND ${CMAKE_AR} /nologo /machine:${MARVOSTELL_LIB_MACHINE}
      /def:${CMAKE_CURRENT_BINARY_DIR}/marvostell-import.def
      /out:$<TARGET_LINKER_FILE:marvostell>
    COMMENT "Import library naming ${MARVOSTELL_DLL_NAME}"
    VERBATIM)
endif()
