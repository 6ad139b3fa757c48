#include "framework/files.h"

namespace marvostell {
namespace {

bool FindByName(const char *path, WIN32_FIND_DATAA &data) {
    HANDLE find = FindFirstFileA(path, &data);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    return true;
}

}  // namespace

bool FindFileByName(const char *path) {
    WIN32_FIND_DATAA data;
    return FindByName(path, data);
}

HANDLE OpenLocalFile(const char *path, DWORD access, DWORD shareMode, DWORD disposition) {
    // With this flag the link itself is opened, not what it leads to.
    HANDLE file = CreateFileA(path, access, shareMode, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    const DWORD openError = GetLastError();  // ERROR_ALREADY_EXISTS for an existing file
    BY_HANDLE_FILE_INFORMATION info;
    DWORD error = ERROR_SUCCESS;
    if (!GetFileInformationByHandle(file, &info)) error = GetLastError();
    else if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) error = ERROR_CANT_RESOLVE_FILENAME;
    if (error != ERROR_SUCCESS) {
        CloseHandle(file);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(openError);
    return file;
}

bool GetFileStatusSize(const char *path, uint32_t &size) {
    WIN32_FIND_DATAA data;
    if (!FindByName(path, data)) return false;
    size = data.nFileSizeLow;
    return true;
}

}  // namespace marvostell
