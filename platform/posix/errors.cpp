// Last-error state, error mode and the errno translation used by this folder.
#include <atomic>
#include <cerrno>
#include <string>

#include <sys/stat.h>

#include "errno_map.h"
#include "win32_posix.h"

namespace {

thread_local DWORD t_lastError = ERROR_SUCCESS;
std::atomic<UINT> g_errorMode{0};

// True when the directory that would hold path exists.
bool ParentDirectoryExists(const char *path) {
    std::string name(path);
    while (name.size() > 1 && name.back() == '/') name.pop_back();
    std::string::size_type slash = name.rfind('/');
    if (slash == std::string::npos) return !name.empty();  // relative: "." exists
    std::string parent = slash == 0 ? std::string("/") : name.substr(0, slash);
    struct stat st;
    return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

DWORD GetLastError() { return t_lastError; }

void SetLastError(DWORD code) { t_lastError = code; }

UINT SetErrorMode(UINT mode) { return g_errorMode.exchange(mode); }

// The system code page on POSIX is single-byte or UTF-8: no byte leads a
// double-byte character.
BOOL IsDBCSLeadByte(BYTE) { return FALSE; }

namespace marvostell::posix {

DWORD ErrorFromErrno(int err, const char *path) {
    switch (err) {
    case 0:
        return ERROR_SUCCESS;
    case ENOENT:
        if (path == nullptr) return ERROR_FILE_NOT_FOUND;
        return ParentDirectoryExists(path) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR:
        return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return ERROR_ACCESS_DENIED;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
    case EFBIG:  // a file-size limit reads as a full disk
        return ERROR_DISK_FULL;
    case EEXIST:
        return ERROR_ALREADY_EXISTS;
    case EMFILE:
    case ENFILE:
        return ERROR_TOO_MANY_OPEN_FILES;
    case ENAMETOOLONG:
        return ERROR_FILENAME_EXCED_RANGE;
    case EBADF:
        return ERROR_INVALID_HANDLE;
    case ENOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL:
        return ERROR_INVALID_PARAMETER;
    case EWOULDBLOCK:
        return ERROR_SHARING_VIOLATION;
    case ENOTEMPTY:
        return ERROR_DIR_NOT_EMPTY;
    case ENOTSUP:
        return ERROR_NOT_SUPPORTED;
    case EXDEV:
        return ERROR_NOT_SAME_DEVICE;
    case ELOOP:
        return ERROR_CANT_RESOLVE_FILENAME;
    case EIO:
        return ERROR_IO_DEVICE;
    default:
        return ERROR_INVALID_FUNCTION;
    }
}

void SetLastErrorFromErrno(int err, const char *path) {
    SetLastError(ErrorFromErrno(err, path));
}

}  // namespace marvostell::posix
