// CreateFileA and friends on POSIX file descriptors. Share modes are modelled
// with locks (share_modes.h): a conflicting opener, and a rename or delete of
// a file held without FILE_SHARE_DELETE, fail with ERROR_SHARING_VIOLATION as
// on Windows.
#include <cerrno>
#include <cstring>
#include <new>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "errno_map.h"
#include "share_modes.h"
#include "win32_posix.h"

using marvostell::posix::CheckNoHandleDeniesDelete;
using marvostell::posix::ErrorFromErrno;
using marvostell::posix::LockForShareMode;
using marvostell::posix::SetLastErrorFromErrno;

namespace {

constexpr uint32_t kFileMagic = 0x46494c45;  // "FILE"
constexpr uint32_t kFindMagic = 0x46494e44;  // "FIND"

struct PosixHandle {
    uint32_t magic;
    int fd;
    DWORD access;  // GENERIC_READ and GENERIC_WRITE as asked for
};

PosixHandle *FromHandle(HANDLE h, uint32_t magic) {
    if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
    PosixHandle *p = static_cast<PosixHandle *>(h);
    return p->magic == magic ? p : nullptr;
}

int FileDescriptor(HANDLE h) {
    PosixHandle *p = FromHandle(h, kFileMagic);
    return p ? p->fd : -1;
}

DWORD HandleAccess(HANDLE h) {
    PosixHandle *p = FromHandle(h, kFileMagic);
    return p ? p->access : 0;
}

void CloseKeepingErrno(int fd) {
    int saved = errno;
    close(fd);
    errno = saved;
}

// 100-nanosecond intervals since 1601-01-01, as FILETIME counts them.
FILETIME ToFileTime(const struct timespec &ts) {
    const uint64_t kEpochDiff = 116444736000000000ull;  // 1601 -> 1970
    uint64_t t = kEpochDiff + static_cast<uint64_t>(ts.tv_sec) * 10000000ull +
                 static_cast<uint64_t>(ts.tv_nsec) / 100;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
}

DWORD Attributes(const struct stat &st) {
    if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return FILE_ATTRIBUTE_READONLY;
    return FILE_ATTRIBUTE_NORMAL;
}

bool Exists(const char *name) {
    struct stat st;
    return lstat(name, &st) == 0;
}

int RenameNoReplace(const char *from, const char *to) {
#if defined(SYS_renameat2)
    const unsigned kRenameNoReplace = 1;  // RENAME_NOREPLACE
    long r = syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, kRenameNoReplace);
    if (r == 0) return 0;
    if (errno != ENOSYS && errno != EINVAL) return -1;
#endif
    // No renameat2 here (old kernel or file system): a hard link cannot
    // replace its target either.
    if (link(from, to) == 0) {
        if (unlink(from) == 0) return 0;
        int saved = errno;
        unlink(to);
        errno = saved;
        return -1;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK) return -1;
    // Directories and file systems without hard links: check, then rename.
    // The check and the rename are not atomic, which is the best left here.
    if (Exists(to)) {
        errno = EEXIST;
        return -1;
    }
    return rename(from, to);
}

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE) {
    if (name == nullptr) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const bool wantRead = (access & GENERIC_READ) != 0;
    const bool wantWrite = (access & GENERIC_WRITE) != 0;
    bool truncate = false;
    bool create = false;    // create the file when it is missing
    bool exclusive = false; // fail when it exists
    switch (disposition) {
    case CREATE_NEW: create = exclusive = true; break;
    case CREATE_ALWAYS: create = truncate = true; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: create = true; break;
    case TRUNCATE_EXISTING:
        if (!wantWrite) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return INVALID_HANDLE_VALUE;
        }
        truncate = true;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }

    // Truncation is done with ftruncate after the lock, never with O_TRUNC,
    // so a file another handle holds is left as it is. A descriptor for
    // writing is opened for reading too where the file allows it, because
    // the lock that denies deletion needs a readable descriptor; ReadFile
    // checks the access the caller asked for.
    int flags = O_CLOEXEC | O_NOCTTY;
    // Windows opens the link itself with this flag; a descriptor cannot, so
    // a link at the last component fails (ERROR_CANT_RESOLVE_FILENAME).
    if (flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) flags |= O_NOFOLLOW;
    int accessFlags = (wantWrite || truncate) ? O_RDWR : O_RDONLY;
    const mode_t mode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;

    int fd = -1;
    bool existed = true;
    for (int attempt = 0; fd < 0; ++attempt) {
        if (create) {
            // O_EXCL first, to learn whether the file was there.
            fd = open(name, flags | accessFlags | O_CREAT | O_EXCL, mode);
            if (fd >= 0) {
                existed = false;
                break;
            }
            if (errno != EEXIST || exclusive) {
                SetLastErrorFromErrno(errno, name, ERROR_FILE_EXISTS);
                return INVALID_HANDLE_VALUE;
            }
        }
        fd = open(name, flags | accessFlags);
        if (fd < 0 && errno == EACCES && accessFlags == O_RDWR && !wantRead) {
            accessFlags = O_WRONLY;  // a file that may be written but not read
            fd = open(name, flags | accessFlags);
        }
        if (fd >= 0) break;
        // Deleted between the two opens: try again a few times.
        if (!(create && errno == ENOENT && attempt < 8)) {
            SetLastErrorFromErrno(errno, name, ERROR_FILE_EXISTS);
            return INVALID_HANDLE_VALUE;
        }
    }

    struct stat st;
    if (fstat(fd, &st) != 0) {
        SetLastErrorFromErrno(errno, name);
        CloseKeepingErrno(fd);
        return INVALID_HANDLE_VALUE;
    }
    if (S_ISDIR(st.st_mode)) {
        close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    const DWORD lockError = LockForShareMode(fd, shareMode, accessFlags != O_WRONLY);
    if (lockError != ERROR_SUCCESS) {
        close(fd);
        SetLastError(lockError);
        return INVALID_HANDLE_VALUE;
    }
    if (truncate && existed && st.st_size != 0 && ftruncate(fd, 0) != 0) {
        DWORD code = ErrorFromErrno(errno);
        close(fd);
        SetLastError(code);
        return INVALID_HANDLE_VALUE;
    }

    PosixHandle *h =
        new (std::nothrow) PosixHandle{kFileMagic, fd, access & (GENERIC_READ | GENERIC_WRITE)};
    if (h == nullptr) {
        close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    const bool reportsExisting = disposition == OPEN_ALWAYS || disposition == CREATE_ALWAYS;
    SetLastError(reportsExisting && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
    if (read) *read = 0;
    int fd = FileDescriptor(file);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (overlapped != nullptr || (buffer == nullptr && toRead != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((HandleAccess(file) & GENERIC_READ) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    char *p = static_cast<char *>(buffer);
    DWORD done = 0;
    while (done < toRead) {
        ssize_t n = ::read(fd, p + done, toRead - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (read) *read = done;
            SetLastErrorFromErrno(errno == EISDIR ? EACCES : errno);
            return FALSE;
        }
        if (n == 0) break;  // end of file: success with fewer bytes
        done += static_cast<DWORD>(n);
    }
    if (read) *read = done;
    return TRUE;
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               LPOVERLAPPED overlapped) {
    if (written) *written = 0;
    int fd = FileDescriptor(file);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (overlapped != nullptr || (buffer == nullptr && toWrite != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((HandleAccess(file) & GENERIC_WRITE) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const char *p = static_cast<const char *>(buffer);
    DWORD done = 0;
    while (done < toWrite) {
        ssize_t n = ::write(fd, p + done, toWrite - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (written) *written = done;
            SetLastErrorFromErrno(errno);
            return FALSE;
        }
        if (n == 0) {
            if (written) *written = done;
            SetLastError(ERROR_DISK_FULL);
            return FALSE;
        }
        done += static_cast<DWORD>(n);
    }
    if (written) *written = done;
    return TRUE;
}

DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method) {
    int fd = FileDescriptor(file);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_SET_FILE_POINTER;
    }
    // With a high part the two halves form one signed 64-bit distance;
    // without one the low part is a signed 32-bit distance.
    int64_t move = distanceHigh
                       ? static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(
                                                   *distanceHigh))
                                               << 32) |
                                              static_cast<uint32_t>(distance))
                       : static_cast<int64_t>(distance);
    int64_t base = 0;
    if (method == FILE_CURRENT) {
        off_t cur = lseek(fd, 0, SEEK_CUR);
        if (cur < 0) {
            SetLastErrorFromErrno(errno);
            return INVALID_SET_FILE_POINTER;
        }
        base = cur;
    } else if (method == FILE_END) {
        struct stat st;
        if (fstat(fd, &st) != 0) {
            SetLastErrorFromErrno(errno);
            return INVALID_SET_FILE_POINTER;
        }
        base = st.st_size;
    } else if (method != FILE_BEGIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t target = base + move;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh == nullptr && target > 0xFFFFFFFFll) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (lseek(fd, static_cast<off_t>(target), SEEK_SET) < 0) {
        SetLastErrorFromErrno(errno);
        return INVALID_SET_FILE_POINTER;
    }
    if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<uint64_t>(target) >> 32);
    DWORD low = static_cast<DWORD>(target);
    // A low part that looks like the failure value is told apart by the
    // last error being 0.
    if (low == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
    return low;
}

BOOL SetEndOfFile(HANDLE file) {
    int fd = FileDescriptor(file);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if ((HandleAccess(file) & GENERIC_WRITE) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    off_t pos = lseek(fd, 0, SEEK_CUR);
    if (pos < 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    if (ftruncate(fd, pos) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
    int fd = FileDescriptor(file);
    if (fd < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return INVALID_FILE_SIZE;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        SetLastErrorFromErrno(errno);
        return INVALID_FILE_SIZE;
    }
    uint64_t size = static_cast<uint64_t>(st.st_size);
    if (sizeHigh) *sizeHigh = static_cast<DWORD>(size >> 32);
    DWORD low = static_cast<DWORD>(size);
    if (low == INVALID_FILE_SIZE) SetLastError(ERROR_SUCCESS);
    return low;
}

BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info) {
    int fd = FileDescriptor(file);
    if (fd < 0 || info == nullptr) {
        SetLastError(fd < 0 ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    struct stat st;
    if (fstat(fd, &st) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    std::memset(info, 0, sizeof *info);
    info->dwFileAttributes = Attributes(st);
    info->ftCreationTime = ToFileTime(st.st_ctim);
    info->ftLastAccessTime = ToFileTime(st.st_atim);
    info->ftLastWriteTime = ToFileTime(st.st_mtim);
    info->dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
    const uint64_t size = static_cast<uint64_t>(st.st_size);
    info->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    info->nFileSizeLow = static_cast<DWORD>(size);
    info->nNumberOfLinks = static_cast<DWORD>(st.st_nlink);
    const uint64_t index = static_cast<uint64_t>(st.st_ino);
    info->nFileIndexHigh = static_cast<DWORD>(index >> 32);
    info->nFileIndexLow = static_cast<DWORD>(index);
    return TRUE;
}

BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID info,
                                  DWORD size) {
    if (infoClass != FileAttributeTagInfo || info == nullptr ||
        size < sizeof(FILE_ATTRIBUTE_TAG_INFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    BY_HANDLE_FILE_INFORMATION whole;
    if (!GetFileInformationByHandle(file, &whole)) return FALSE;
    FILE_ATTRIBUTE_TAG_INFO *tag = static_cast<FILE_ATTRIBUTE_TAG_INFO *>(info);
    tag->FileAttributes = whole.dwFileAttributes;
    tag->ReparseTag = 0;
    return TRUE;
}

BOOL CloseHandle(HANDLE object) {
    PosixHandle *h = FromHandle(object, kFileMagic);
    if (h == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    int fd = h->fd;
    h->magic = 0;
    delete h;
    // Closing the descriptor releases its lock. Linux closes it even when
    // close() reports an error, so the handle is gone either way.
    if (close(fd) != 0 && errno != EINTR) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

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
    if (unlink(name) != 0) {
        SetLastErrorFromErrno(errno, name);
        return FALSE;
    }
    return TRUE;
}

BOOL MoveFileA(LPCSTR existing, LPCSTR target) {
    if (existing == nullptr || target == nullptr) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return FALSE;
    }
    const DWORD held = CheckNoHandleDeniesDelete(existing);
    if (held != ERROR_SUCCESS) {
        SetLastError(held);
        return FALSE;
    }
    if (RenameNoReplace(existing, target) != 0) {
        int err = errno;
        // ENOENT names either a missing source or a missing target directory.
        const char *subject = (err == ENOENT && Exists(existing)) ? target : existing;
        SetLastErrorFromErrno(err, subject, ERROR_ALREADY_EXISTS);
        return FALSE;
    }
    return TRUE;
}

HANDLE FindFirstFileA(LPCSTR name, LPWIN32_FIND_DATAA data) {
    if (name == nullptr || data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    // A directory entry describes a symbolic link itself, as Windows finds a
    // link: a reparse point of size 0 (a directory too when it leads to one).
    struct stat st;
    if (lstat(name, &st) != 0) {
        SetLastErrorFromErrno(errno, name);
        return INVALID_HANDLE_VALUE;
    }
    std::memset(data, 0, sizeof *data);
    if (S_ISLNK(st.st_mode)) {
        struct stat target;
        const bool toDirectory = stat(name, &target) == 0 && S_ISDIR(target.st_mode);
        data->dwFileAttributes =
            FILE_ATTRIBUTE_REPARSE_POINT | (toDirectory ? FILE_ATTRIBUTE_DIRECTORY : 0);
        data->dwReserved0 = IO_REPARSE_TAG_SYMLINK;
    } else {
        data->dwFileAttributes = Attributes(st);
    }
    data->ftCreationTime = ToFileTime(st.st_ctim);
    data->ftLastAccessTime = ToFileTime(st.st_atim);
    data->ftLastWriteTime = ToFileTime(st.st_mtim);
    uint64_t size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);

    // cFileName holds the last component of the name.
    std::string base(name);
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string::size_type slash = base.rfind('/');
    if (slash != std::string::npos && base.size() > 1) base.erase(0, slash + 1);
    std::strncpy(data->cFileName, base.c_str(), MAX_PATH - 1);
    data->cFileName[MAX_PATH - 1] = '\0';

    PosixHandle *h = new (std::nothrow) PosixHandle{kFindMagic, -1, 0};
    if (h == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    SetLastError(ERROR_SUCCESS);
    return h;
}

BOOL FindClose(HANDLE find) {
    PosixHandle *h = FromHandle(find, kFindMagic);
    if (h == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    h->magic = 0;
    delete h;
    return TRUE;
}
