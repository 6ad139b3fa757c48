// The table of system calls: the real ones, or a test's replacements.
#include "system_calls.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace marvostell::posix {
namespace {

int OpenFile(const char *path, int flags, mode_t mode) { return ::open(path, flags, mode); }

bool Exists(const char *name) {
    struct stat st;
    return ::lstat(name, &st) == 0;
}

// rename() that fails with EEXIST instead of replacing the target.
int RenameNoReplace(const char *from, const char *to) {
#if defined(SYS_renameat2)
    const unsigned kRenameNoReplace = 1;  // RENAME_NOREPLACE
    long r = syscall(SYS_renameat2, AT_FDCWD, from, AT_FDCWD, to, kRenameNoReplace);
    if (r == 0) return 0;
    if (errno != ENOSYS && errno != EINVAL) return -1;
#endif
    // No renameat2 here (old kernel or file system): a hard link cannot
    // replace its target either.
    if (::link(from, to) == 0) {
        if (::unlink(from) == 0) return 0;
        int saved = errno;
        ::unlink(to);
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
    return ::rename(from, to);
}

#define MARVOSTELL_REAL_SYSTEM_CALL(field, Kind, Result, Parameters, real) real,
const SystemCalls kReal = {MARVOSTELL_SYSTEM_CALLS(MARVOSTELL_REAL_SYSTEM_CALL)};
#undef MARVOSTELL_REAL_SYSTEM_CALL

SystemCalls g_table = kReal;

}  // namespace

const SystemCalls &Sys() { return g_table; }

const SystemCalls &RealSystemCalls() { return kReal; }

void ReplaceSystemCalls(const SystemCalls &table) { g_table = table; }

void RestoreSystemCalls() { g_table = kReal; }

}  // namespace marvostell::posix
