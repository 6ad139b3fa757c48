// GetPrivateProfileStringA for POSIX. The file is read afresh on every call
// (the module reads a small file key by key) and answered by the profile
// rules of platform/profile_text.h; this file adds what belongs to a file:
// the sharing it is opened with, the encodings it recognises and the
// last-error codes.
#include <string>

#include "platform/ini_lines.h"
#include "platform/profile_text.h"
#include "win32_posix.h"

namespace {

// Reads the whole file as the Windows reader opens it: for reading, sharing
// reading and writing, so a file that another handle holds without sharing
// cannot be read (ERROR_SHARING_VIOLATION). On failure returns the error.
DWORD ReadWholeFile(const char *path, std::string &out) {
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    char chunk[4096];
    DWORD got = 0;
    BOOL ok;
    while ((ok = ReadFile(file, chunk, sizeof chunk, &got, nullptr)) && got > 0) out.append(chunk, got);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(file);
    return error;
}

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR returned,
                               DWORD size, LPCSTR fileName) {
    std::string raw;
    DWORD fileError = ERROR_SUCCESS;
    if (!fileName || !*fileName) {
        fileError = ERROR_FILE_NOT_FOUND;
    } else if ((fileError = ReadWholeFile(fileName, raw)) != ERROR_SUCCESS) {
        raw.clear();  // a missing file reads as an empty one: every answer is the default
    }
    bool truncated = false;
    const DWORD result = marvostell::ini::CProfileText(marvostell::ini::FileText(raw))
                             .Read(section, key, defaultValue, returned, size, &truncated);
    SetLastError(fileError != ERROR_SUCCESS ? fileError
                 : truncated                ? ERROR_MORE_DATA
                                            : ERROR_SUCCESS);
    return result;
}
