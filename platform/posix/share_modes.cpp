#include "share_modes.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "errno_map.h"
#include "system_calls.h"

namespace marvostell::posix {
namespace {

struct flock WholeFile(short type) {
    struct flock lock {};
    lock.l_type = type;
    lock.l_whence = SEEK_SET;
    lock.l_start = 0;
    lock.l_len = 0;  // to the end, however far the file grows
    return lock;
}

}  // namespace

DWORD LockForShareMode(int fd, DWORD shareMode, bool readable) {
    const bool othersMayReadOrWrite = (shareMode & (FILE_SHARE_READ | FILE_SHARE_WRITE)) != 0;
    if (Sys().flock(fd, (othersMayReadOrWrite ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0)
        return errno == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ErrorFromErrno(errno);
    if ((shareMode & FILE_SHARE_DELETE) == 0 && readable) {
        // Read locks never conflict with each other; only the probe of
        // CheckNoHandleDeniesDelete sees them. A file system without these
        // locks leaves renames unguarded, as before.
        struct flock lock = WholeFile(F_RDLCK);
        fcntl(fd, F_OFD_SETLK, &lock);
    }
    return ERROR_SUCCESS;
}

DWORD CheckNoHandleDeniesDelete(const char *path) {
    // Not through Sys(): a probe that cannot open leaves the decision to the
    // call itself.
    const int fd = open(path, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return ERROR_SUCCESS;  // a link, a missing file: the call itself decides
    struct flock probe = WholeFile(F_WRLCK);
    const bool held = fcntl(fd, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
    close(fd);
    return held ? ERROR_SHARING_VIOLATION : ERROR_SUCCESS;
}

}  // namespace marvostell::posix
