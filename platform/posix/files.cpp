// CreateFileA and the calls on its handles, on POSIX file descriptors. Share
// modes are modelled with locks (share_modes.h): a conflicting opener fails
// with ERROR_SHARING_VIOLATION as on Windows.
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "errno_map.h"
#include "file_info.h"
#include "handles.h"
#include "share_modes.h"
#include "system_calls.h"
#include "win32_posix.h"

using marvostell::posix::LockForShareMode;
using marvostell::posix::LookUp;
using marvostell::posix::SetLastErrorFromErrno;
using marvostell::posix::Sys;
using marvostell::posix::Attributes;

namespace {

// The descriptor is closed with the last reference to the object: a close
// from another thread while a call uses it leaves the descriptor to that call
// (and its number to nobody else) until the call returns.
struct FileObject : marvostell::posix::HandleObject {
    static constexpr auto kKind = marvostell::posix::HandleKind::File;
    FileObject(int f, DWORD a) : HandleObject(kKind), fd(f), access(a) {}
    ~FileObject() override { close(fd); }
    const int fd;
    const DWORD access;  // GENERIC_READ and GENERIC_WRITE as asked for
};

void CloseKeepingErrno(int fd) {
    int saved = errno;
    close(fd);
    errno = saved;
}

}  // namespace

HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE) {
    if (name == nullptr) {
        SetLastError(ERROR_PATH_NOT_FOUND);
        return INVALID_HANDLE_VALUE;
    }
    const DWORD kAccess = GENERIC_READ | GENERIC_WRITE;
    const DWORD kShares = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    const DWORD kFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;
    if ((access & ~kAccess) != 0 || (shareMode & ~kShares) != 0 ||
        (flagsAndAttributes & ~kFlags) != 0 ||
        (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS && disposition != CREATE_NEW)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    const bool wantRead = (access & GENERIC_READ) != 0;
    const bool wantWrite = (access & GENERIC_WRITE) != 0;
    const bool create = disposition == OPEN_ALWAYS || disposition == CREATE_NEW;

    // A descriptor for writing is opened for reading too where the file
    // allows it, because the lock that denies deletion needs a readable
    // descriptor; ReadFile checks the access the caller asked for.
    int flags = O_CLOEXEC | O_NOCTTY;
    // Windows opens the link itself with this flag; a descriptor cannot, so
    // a link at the last component fails (ERROR_CANT_RESOLVE_FILENAME).
    if (flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) flags |= O_NOFOLLOW;
    int accessFlags = wantWrite ? O_RDWR : O_RDONLY;

    int fd = -1;
    bool existed = true;
    for (int attempt = 0; fd < 0; ++attempt) {
        if (create) {
            // O_EXCL first, to learn whether the file was there.
            fd = Sys().open(name, flags | accessFlags | O_CREAT | O_EXCL, 0666);
            if (fd >= 0) {
                existed = false;
                break;
            }
            if (errno != EEXIST) {
                SetLastErrorFromErrno(errno, name);
                return INVALID_HANDLE_VALUE;
            }
            if (disposition == CREATE_NEW) {
                SetLastError(ERROR_FILE_EXISTS);
                return INVALID_HANDLE_VALUE;
            }
        }
        fd = Sys().open(name, flags | accessFlags, 0);
        if (fd < 0 && errno == EACCES && accessFlags == O_RDWR && !wantRead) {
            accessFlags = O_WRONLY;  // a file that may be written but not read
            fd = Sys().open(name, flags | accessFlags, 0);
        }
        if (fd >= 0) break;
        // Deleted between the two opens: try again a few times.
        if (!(create && errno == ENOENT && attempt < 8)) {
            SetLastErrorFromErrno(errno, name);
            return INVALID_HANDLE_VALUE;
        }
    }

    struct stat st;
    if (Sys().fstat(fd, &st) != 0) {
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

    std::unique_ptr<FileObject> object(new (std::nothrow) FileObject(fd, access));
    if (object == nullptr) {
        close(fd);
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
    // A registry that cannot take it frees the object, which closes fd.
    HANDLE h = marvostell::posix::RegisterHandle(std::move(object));
    if (h == nullptr) return INVALID_HANDLE_VALUE;
    SetLastError(create && existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return h;
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped) {
    if (read) *read = 0;
    const auto handle = LookUp<FileObject>(file);
    if (handle == nullptr) return FALSE;
    const int fd = handle->fd;
    if (overlapped != nullptr || (buffer == nullptr && toRead != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((handle->access & GENERIC_READ) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    char *p = static_cast<char *>(buffer);
    DWORD done = 0;
    while (done < toRead) {
        ssize_t n = Sys().read(fd, p + done, toRead - done);
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
    const auto handle = LookUp<FileObject>(file);
    if (handle == nullptr) return FALSE;
    const int fd = handle->fd;
    if (overlapped != nullptr || (buffer == nullptr && toWrite != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if ((handle->access & GENERIC_WRITE) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    const char *p = static_cast<const char *>(buffer);
    DWORD done = 0;
    while (done < toWrite) {
        ssize_t n = Sys().write(fd, p + done, toWrite - done);
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
    const auto handle = LookUp<FileObject>(file);
    if (handle == nullptr) return INVALID_SET_FILE_POINTER;
    const int fd = handle->fd;
    if (distanceHigh != nullptr || (method != FILE_BEGIN && method != FILE_END)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    int64_t base = 0;
    if (method == FILE_END) {
        struct stat st;
        if (Sys().fstat(fd, &st) != 0) {
            SetLastErrorFromErrno(errno);
            return INVALID_SET_FILE_POINTER;
        }
        base = st.st_size;
    }
    const int64_t target = base + distance;
    if (target < 0) {
        SetLastError(ERROR_NEGATIVE_SEEK);
        return INVALID_SET_FILE_POINTER;
    }
    // Without a high part the position must fit in 32 bits.
    if (target > 0xFFFFFFFFll) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_SET_FILE_POINTER;
    }
    if (lseek(fd, static_cast<off_t>(target), SEEK_SET) < 0) {
        SetLastErrorFromErrno(errno);
        return INVALID_SET_FILE_POINTER;
    }
    const DWORD position = static_cast<DWORD>(target);
    // A position that looks like the failure value is told apart by the
    // last error being 0.
    if (position == INVALID_SET_FILE_POINTER) SetLastError(ERROR_SUCCESS);
    return position;
}

BOOL SetEndOfFile(HANDLE file) {
    const auto handle = LookUp<FileObject>(file);
    if (handle == nullptr) return FALSE;
    const int fd = handle->fd;
    if ((handle->access & GENERIC_WRITE) == 0) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    off_t pos = lseek(fd, 0, SEEK_CUR);
    if (pos < 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    if (Sys().ftruncate(fd, pos) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    return TRUE;
}

DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh) {
    const auto handle = LookUp<FileObject>(file);
    if (handle == nullptr) return INVALID_FILE_SIZE;
    const int fd = handle->fd;
    struct stat st;
    if (Sys().fstat(fd, &st) != 0) {
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
    const auto handle = LookUp<FileObject>(file);
    if (handle == nullptr) return FALSE;
    if (info == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const int fd = handle->fd;
    struct stat st;
    if (Sys().fstat(fd, &st) != 0) {
        SetLastErrorFromErrno(errno);
        return FALSE;
    }
    std::memset(info, 0, sizeof *info);
    info->dwFileAttributes = Attributes(st);
    info->dwVolumeSerialNumber = static_cast<DWORD>(st.st_dev);
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

// Closing the descriptor releases its locks, so the file is free for other
// openers as soon as no call uses it. Like Windows, the close itself reports
// no write-back error.
BOOL CloseHandle(HANDLE object) {
    return marvostell::posix::UnregisterHandle(object, FileObject::kKind) != nullptr;
}
