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
    // With this flag a reparse point itself is opened, not what it leads to.
    HANDLE file = CreateFileA(path, access, shareMode, nullptr, disposition,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    const DWORD openError = GetLastError();  // ERROR_ALREADY_EXISTS for an existing file
    FILE_ATTRIBUTE_TAG_INFO tag;
    BY_HANDLE_FILE_INFORMATION opened;
    if (!GetFileInformationByHandleEx(file, FileAttributeTagInfo, &tag, sizeof tag) ||
        !GetFileInformationByHandle(file, &opened)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        SetLastError(error);
        return INVALID_HANDLE_VALUE;
    }
    // A file with another name elsewhere (a hard link) would be written
    // through that name too: refused like a symbolic link.
    if ((access & GENERIC_WRITE) && opened.nNumberOfLinks > 1) {
        CloseHandle(file);
        SetLastError(ERROR_CANT_RESOLVE_FILENAME);
        return INVALID_HANDLE_VALUE;
    }
    if ((tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        SetLastError(openError);
        return file;
    }
    CloseHandle(file);
    // A link, junction or mount point names another file: refused.
    if (IsReparseTagNameSurrogate(tag.ReparseTag)) {
        SetLastError(ERROR_CANT_RESOLVE_FILENAME);
        return INVALID_HANDLE_VALUE;
    }
    // Another kind (a deduplicated or cloud file) is this file, but its data
    // is reached only through its filter: opened again the ordinary way, and
    // taken only if that is still the same file.
    file = CreateFileA(path, access, shareMode, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
    if (file == INVALID_HANDLE_VALUE) return file;
    BY_HANDLE_FILE_INFORMATION reopened;
    if (!GetFileInformationByHandle(file, &reopened) ||
        reopened.dwVolumeSerialNumber != opened.dwVolumeSerialNumber ||
        reopened.nFileIndexHigh != opened.nFileIndexHigh ||
        reopened.nFileIndexLow != opened.nFileIndexLow) {
        CloseHandle(file);
        SetLastError(ERROR_CANT_RESOLVE_FILENAME);
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
