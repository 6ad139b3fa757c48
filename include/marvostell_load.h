/* marvostell_load.h: loads Marvostell.dll by its full path and finds
 * CheckNewVersion (and CheckNewVersionEx, where the DLL has it), with the
 * reason in words when either fails. Windows only;
 * header-only, for C and C++.
 *
 *   MarvostellLibrary marvostell;
 *   if (!MarvostellLoad(&marvostell, NULL)) {        (NULL: the .exe's folder)
 *       MessageBoxA(window, marvostell.error, "Update", MB_ICONERROR);
 *   } else {
 *       int result = marvostell.CheckNewVersion(window, WM_APP + 1, version,
 *                                               url, dir, path);
 *       MarvostellUnload(&marvostell);
 *   }
 *
 * The DLL is loaded from the given folder only, never from the search path,
 * and its own imports come from the system folder: a DLL planted in the
 * current directory or on PATH is never picked up. The 32-bit and the 64-bit
 * Marvostell.dll share their file name; keep each beside the host of its
 * width. */
#ifndef MARVOSTELL_LOAD_H
#define MARVOSTELL_LOAD_H

#if !defined(_WIN32)
#  error "marvostell_load.h is for Windows; on Linux link with -lmarvostell"
#endif

#include <windows.h>
#include <stdio.h>
#include <string.h>

#include "marvostell.h"

#if defined(__cplusplus) || (defined(__STDC_VERSION__) && __STDC_VERSION__ >= 199901L)
#  define MARVOSTELL_LOAD_FUNCTION static inline
#else
#  define MARVOSTELL_LOAD_FUNCTION static __inline
#endif

#ifndef LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR
#  define LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR 0x00000100
#endif
#ifndef LOAD_LIBRARY_SEARCH_SYSTEM32
#  define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800
#endif

#define MARVOSTELL_DLL_NAME "Marvostell.dll"

typedef struct MarvostellLibrary {
    HMODULE module;                               /* null until loaded */
    MarvostellCheckNewVersionFn CheckNewVersion;  /* null until loaded */
    /* null until loaded, and for a DLL older than this export */
    MarvostellCheckNewVersionExFn CheckNewVersionEx;
    char path[MAX_PATH];                          /* full path of the DLL tried */
    DWORD error_code;                             /* system error of a failure */
    char error[MAX_PATH + 256];                   /* the failure in words */
} MarvostellLibrary;

/* Loads MARVOSTELL_DLL_NAME from folder (null: the folder of the running
 * .exe). Returns 1 with module and CheckNewVersion set, or 0 with error set. */
MARVOSTELL_LOAD_FUNCTION int MarvostellLoad(MarvostellLibrary *library, const char *folder) {
    char full[MAX_PATH];
    DWORD length;
    FARPROC export_address;

    memset(library, 0, sizeof *library);
    if (folder) {
        length = GetFullPathNameA(folder, MAX_PATH, full, NULL);
    } else {
        char *slash;
        length = GetModuleFileNameA(NULL, full, MAX_PATH);
        if (length >= MAX_PATH) length = 0;
        slash = length ? strrchr(full, '\\') : NULL;
        if (slash) *slash = '\0';
        length = slash ? (DWORD)(slash - full) : 0;
    }
    if (length == 0 || length >= MAX_PATH ||
        length + 1 + strlen(MARVOSTELL_DLL_NAME) >= MAX_PATH) {
        library->error_code = length ? ERROR_FILENAME_EXCED_RANGE : GetLastError();
        snprintf(library->error, sizeof library->error,
                 "cannot form the path of %s in folder \"%s\" (error %lu)", MARVOSTELL_DLL_NAME,
                 folder ? folder : "of the program", (unsigned long)library->error_code);
        return 0;
    }
    snprintf(library->path, sizeof library->path, "%s%s%s", full,
             full[length - 1] == '\\' || full[length - 1] == '/' ? "" : "\\",
             MARVOSTELL_DLL_NAME);

    library->module = LoadLibraryExA(library->path, NULL,
                                     LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR |
                                         LOAD_LIBRARY_SEARCH_SYSTEM32);
    /* Systems without those flags (Windows 7 before KB2533623) refuse them. */
    if (!library->module && GetLastError() == ERROR_INVALID_PARAMETER)
        library->module = LoadLibraryExA(library->path, NULL, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (!library->module) {
        const DWORD code = GetLastError();
        const int exists = GetFileAttributesA(library->path) != INVALID_FILE_ATTRIBUTES;
        const char *reason;
        char system_text[160];
        library->error_code = code;
        if (code == ERROR_BAD_EXE_FORMAT) {
            reason = sizeof(void *) == 8
                         ? "it is not a 64-bit DLL; a 64-bit host needs the x64 Marvostell.dll"
                         : "it is not a 32-bit DLL; a 32-bit host needs the x86 Marvostell.dll";
        } else if (!exists) {
            reason = "there is no such file";
        } else if (code == ERROR_MOD_NOT_FOUND) {
            reason = "a DLL it needs is missing";
        } else {
            system_text[0] = '\0';
            FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, NULL, code,
                           0, system_text, sizeof system_text, NULL);
            system_text[strcspn(system_text, "\r\n")] = '\0';
            reason = system_text[0] ? system_text : "the system refused it";
        }
        snprintf(library->error, sizeof library->error, "cannot load %s: %s (error %lu)",
                 library->path, reason, (unsigned long)code);
        return 0;
    }

    export_address = GetProcAddress(library->module, "CheckNewVersion");
    if (!export_address) {
        library->error_code = GetLastError();
        snprintf(library->error, sizeof library->error,
                 "%s has no CheckNewVersion export: it is another DLL of that name (error %lu)",
                 library->path, (unsigned long)library->error_code);
        FreeLibrary(library->module);
        library->module = NULL;
        return 0;
    }
    /* Through an integer: ISO C has no conversion between function pointer types
     * of different signatures that compilers accept without a warning. */
    library->CheckNewVersion = (MarvostellCheckNewVersionFn)(INT_PTR)export_address;
    export_address = GetProcAddress(library->module, "CheckNewVersionEx");
    library->CheckNewVersionEx =
        export_address ? (MarvostellCheckNewVersionExFn)(INT_PTR)export_address : NULL;
    return 1;
}

/* Unloads the DLL; call it only once no call of either export is running. */
MARVOSTELL_LOAD_FUNCTION void MarvostellUnload(MarvostellLibrary *library) {
    if (library->module) FreeLibrary(library->module);
    library->module = NULL;
    library->CheckNewVersion = NULL;
    library->CheckNewVersionEx = NULL;
}

#endif /* MARVOSTELL_LOAD_H */
