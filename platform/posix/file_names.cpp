// The calls on file names: DeleteFileA, MoveFileA and FindFirstFileA. A file
// that a handle holds without FILE_SHARE_DELETE is neither renamed nor
// deleted (ERROR_SHARING_VIOLATION), as on Windows (share_modes.h).
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include <sys/stat.h>

#include "errno_map.h"
#include "file_info.h"
#include "handles.h"
#include "share_modes.h"
#include "system_calls.h"
#include "win32_posix.h"

using marvostell::posix::Attributes;
using marvostell::posix::CheckNoHandleDeniesDelete;
using marvostell::posix::SetLastErrorFromErrno;
using marvostell::posix::Sys;

namespace {

// A find handle holds nothing: the search found its one file at once.
struct FindObject : marvostell::posix::HandleObject {
    FindObject() : HandleObject(marvostell::posix::HandleKind::Find) {}
};

bool Exists(const char *name) {
    struct stat st;
    return Sys().lstat(name, &st) == 0;
}

}  // namespace

BOOL DeleteFileA(LPCSTR name) {
    if (name == nullptr) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    const DWORD held = CheckNoHandleDeniesDelete(name);
    if (held != ERROR_SUCCESS) {
        SetLastError(held);
        return FALSE;
    }
    if (Sys().unlink(name) != 0) {
        SetLastErrorFromErrno(errno, name);
        return FALSE;
    }
    return TRUE;
}

namespace {

// Renames `existing` to `target`, replacing an existing target or refusing
// it, once no handle that denies deletion holds the file moved (nor, when it
// is replaced, the target: Windows cannot replace a file held that way).
BOOL Move(LPCSTR existing, LPCSTR target, bool replace) {
    if (existing == nullptr || target == nullptr) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    DWORD held = CheckNoHandleDeniesDelete(existing);
    if (held == ERROR_SUCCESS && replace) held = CheckNoHandleDeniesDelete(target);
    if (held != ERROR_SUCCESS) {
        SetLastError(held);
        return FALSE;
    }
    if ((replace ? Sys().renameReplacing : Sys().rename)(existing, target) != 0) {
        int err = errno;
        // ENOENT names either a missing source or a missing target directory.
        const char *subject = (err == ENOENT && Exists(existing)) ? target : existing;
        SetLastErrorFromErrno(err, subject);
        return FALSE;
    }
    return TRUE;
}

}  // namespace

BOOL MoveFileA(LPCSTR existing, LPCSTR target) { return Move(existing, target, false); }

BOOL MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags) {
    return Move(existing, target, (flags & MOVEFILE_REPLACE_EXISTING) != 0);
}

HANDLE FindFirstFileA(LPCSTR name, LPWIN32_FIND_DATAA data) {
    if (name == nullptr || data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // A directory entry describes a symbolic link itself, as Windows finds a
    // link: a reparse point of size 0 (a directory too when it leads to one).
    struct stat st;
    if (Sys().lstat(name, &st) != 0) {
        SetLastErrorFromErrno(errno, name);
        return INVALID_HANDLE_VALUE;
    }
    std::memset(data, 0, sizeof *data);
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        const bool toDirectory = Sys().stat(name, &target) == 0 && S_ISDIR(target.st_mode);
        data->dwFileAttributes =
            FILE_ATTRIBUTE_REPARSE_POINT | (toDirectory ? FILE_ATTRIBUTE_DIRECTORY : 0);
    } else {
        data->dwFileAttributes = Attributes(st);
    }
    // A size past 4 GiB keeps its low part, as nFileSizeLow would.
    data->nFileSizeLow = S_ISREG(st.st_mode) ? static_cast<DWORD>(st.st_size) : 0;

    // cFileName holds the last component of the name.
    std::string base(name);
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string::size_type slash = base.rfind('/');
    if (slash != std::string::npos && base.size() > 1) base.erase(0, slash + 1);
    std::strncpy(data->cFileName, base.c_str(), MAX_PATH - 1);
    data->cFileName[MAX_PATH - 1] = '\0';

    HANDLE h = marvostell::posix::RegisterHandle(
        std::unique_ptr<FindObject>(new (std::nothrow) FindObject));
    if (h == nullptr) return INVALID_HANDLE_VALUE;
    SetLastError(ERROR_SUCCESS);
    return h;
}

BOOL FindClose(HANDLE find) {
    return marvostell::posix::UnregisterHandle(find, marvostell::posix::HandleKind::Find) != nullptr;
}
