// CreateFileA and friends on POSIX file descriptors.
//
// Share modes are modelled with flock(): share mode 0 takes an exclusive
// non-blocking lock, any other share mode a shared one, so a second opener
// that conflicts fails with ERROR_SHARING_VIOLATION as on Windows. flock locks
// belong to the open file description, so two handles in one process conflict
// as well.
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
#include "win32_posix.h"

using marvostell::posix::ErrorFromErrno;
using marvostell::posix::SetLastErrorFromErrno;

namespace {

constexpr uint32_t kFileMagic = 0x46494c45;  // "FILE"
constexpr uint32_t kFindMagic = 0x46494e44;  // "FIND"

struct PosixHandle {
    uint32_t magic;
    int fd;
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
    // so a file another handle holds is left as it is.
    int flags = O_CLOEXEC | O_NOCTTY;
    if (wantWrite || truncate)
        flags |= (wantRead || !wantWrite) ? O_RDWR : O_WRONLY;
    else
        flags |= O_RDONLY;
    const mode_t mode = (flagsAndAttributes & FILE_ATTRIBUTE_READONLY) ? 0444 : 0666;

    int fd = -1;
    bool existed = true;
    for (int attempt = 0; fd < 0; ++attempt) {
        if (create) {
            // O_EXCL first, to learn whether the file was there.
            fd = open(name, flags | O_CREAT | O_EXCL, mode);
            if (fd >= 0) {
                existed = false;
                break;
            }
            if (errno != EEXIST || exclusive) {
                SetLastErrorFromErrno(errno, name, ERROR_FILE_EXISTS);
                return INVALID_HANDLE_VALUE;
            }
        }
        fd = open(name, flags);
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
    if (flock(fd, (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        DWORD code = (errno == EWOULDBLOCK) ? ERROR_SHARING_VIOLATION : ErrorFromErrno(errno);
        close(fd);
        SetLastError(code);
        return INVALID_HANDLE_VALUE;
    }
    if (truncate && existed && st.st_size != 0 && ftruncate(fd, 0) != 0) {
        DWORD code = ErrorFromErrno(errno);
        close(fd);
        SetLastError(code);
        return INVALID_HANDLE_VALUE;
    }

    PosixHandle *h = new (std::nothrow) PosixHandle{kFileMagic, fd};
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
    const char *p = static_cast<const char *>(buffer);
    DWORD done = 0;
    while (done < toWrite) {
        ssize_t n = ::write(fd, p + done, toWrite - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (written) *written = done;
            // A descriptor opened for reading only: EBADF on POSIX, access
            // denied on Windows.
            SetLastErrorFromErrno(errno == EBADF ? EACCES : errno);
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
    off_t pos = lseek(fd, 0, SEEK_CUR);
    if (pos < 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    if (ftruncate(fd, pos) != 0) {
        // A read-only descriptor gives EBADF or EINVAL.
        SetLastErrorFromErrno(errno == EBADF || errno == EINVAL ? EACCES : errno);
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
    struct stat st;
    if (stat(name, &st) != 0) {
        SetLastErrorFromErrno(errno, name);
        return INVALID_HANDLE_VALUE;
    }
    std::memset(data, 0, sizeof *data);
    if (S_ISDIR(st.st_mode))
        data->dwFileAttributes = FILE_ATTRIBUTE_DIRECTORY;
    else if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        data->dwFileAttributes = FILE_ATTRIBUTE_READONLY;
    else
        data->dwFileAttributes = FILE_ATTRIBUTE_NORMAL;
    data->ftCreationTime = ToFileTime(st.st_ctim);
    data->ftLastAccessTime = ToFileTime(st.st_atim);
    data->ftLastWriteTime = ToFileTime(st.st_mtim);
    uint64_t size = S_ISDIR(st.st_mode) ? 0 : static_cast<uint64_t>(st.st_size);
    data->nFileSizeHigh = static_cast<DWORD>(size >> 32);
    data->nFileSizeLow = static_cast<DWORD>(size);

    // cFileName holds the last component of the name.
    std::string base(name);
    while (base.size() > 1 && base.back() == '/') base.pop_back();
    std::string::size_type slash = base.rfind('/');
    if (slash != std::string::npos && base.size() > 1) base.erase(0, slash + 1);
    std::strncpy(data->cFileName, base.c_str(), MAX_PATH - 1);
    data->cFileName[MAX_PATH - 1] = '\0';

    PosixHandle *h = new (std::nothrow) PosixHandle{kFindMagic, -1};
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
