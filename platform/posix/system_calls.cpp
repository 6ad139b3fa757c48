// The table of system calls and the stand-ins that fail one of them.
#include "system_calls.h"

#include <cerrno>
#include <mutex>

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

const SystemCalls kReal = {OpenFile, ::read,  ::write, ::ftruncate, ::flock, RenameNoReplace,
                           ::rename, ::unlink, ::stat, ::lstat,     ::fstat, curl_multi_perform,
                           StartSocketLayer,   CleanUpSocketLayer};

constexpr int kCallKinds = static_cast<int>(SystemCall::WsaCleanup) + 1;

struct Fault {
    unsigned countdown = 0;  // calls left until the failing one; 0: none due
    bool persists = false;   // once due, every later call fails too
    bool due = false;
    int err = 0;
};

std::mutex g_faultMutex;
Fault g_faults[kCallKinds];
SystemCalls g_base = kReal;  // what the stand-ins pass calls on to
SystemCalls g_table = kReal;

// True, with errno set, when this call of that kind is to fail.
bool FailsNow(SystemCall call) {
    std::lock_guard<std::mutex> lock(g_faultMutex);
    Fault &f = g_faults[static_cast<int>(call)];
    if (!f.due) {
        if (f.countdown == 0 || --f.countdown != 0) return false;
        f.due = true;
    } else if (!f.persists) {
        return false;
    }
    errno = f.err;
    return true;
}

// The stand-in for one entry: the call passed on, or -1 when it is to fail.
template <SystemCall Call, auto Member, class Result, class... Args>
Result Failing(Args... args) {
    if (FailsNow(Call)) return static_cast<Result>(-1);
    return (g_base.*Member)(args...);
}

CURLMcode FailingPerform(CURLM *multi, int *running) {
    if (FailsNow(SystemCall::CurlPerform)) return CURLM_INTERNAL_ERROR;
    return g_base.curlPerform(multi, running);
}

int FailingWsaStartup(WORD versionRequested, LPWSADATA data) {
    if (FailsNow(SystemCall::WsaStartup)) return errno;
    return g_base.wsaStartup(versionRequested, data);
}

int FailingWsaCleanup() {
    if (FailsNow(SystemCall::WsaCleanup)) return errno;
    return g_base.wsaCleanup();
}

}  // namespace

const SystemCalls &Sys() { return g_table; }

const SystemCalls &RealSystemCalls() { return kReal; }

void ReplaceSystemCalls(const SystemCalls &table) {
    std::lock_guard<std::mutex> lock(g_faultMutex);
    g_base = table;
    g_table = table;
}

void FailSystemCall(SystemCall call, unsigned nth, int err, FaultMode mode) {
    {
        std::lock_guard<std::mutex> lock(g_faultMutex);
        g_faults[static_cast<int>(call)] = Fault{nth, mode == FaultMode::FromThenOn, false, err};
    }
    using S = SystemCalls;
    using C = SystemCall;
    switch (call) {
    case C::Open: g_table.open = Failing<C::Open, &S::open, int, const char *, int, mode_t>; break;
    case C::Read: g_table.read = Failing<C::Read, &S::read, ssize_t, int, void *, size_t>; break;
    case C::Write:
        g_table.write = Failing<C::Write, &S::write, ssize_t, int, const void *, size_t>;
        break;
    case C::Ftruncate: g_table.ftruncate = Failing<C::Ftruncate, &S::ftruncate, int, int, off_t>; break;
    case C::Flock: g_table.flock = Failing<C::Flock, &S::flock, int, int, int>; break;
    case C::Rename:
        g_table.rename = Failing<C::Rename, &S::rename, int, const char *, const char *>;
        break;
    case C::RenameReplacing:
        g_table.renameReplacing =
            Failing<C::RenameReplacing, &S::renameReplacing, int, const char *, const char *>;
        break;
    case C::Unlink: g_table.unlink = Failing<C::Unlink, &S::unlink, int, const char *>; break;
    case C::Stat: g_table.stat = Failing<C::Stat, &S::stat, int, const char *, struct stat *>; break;
    case C::Lstat:
        g_table.lstat = Failing<C::Lstat, &S::lstat, int, const char *, struct stat *>;
        break;
    case C::Fstat: g_table.fstat = Failing<C::Fstat, &S::fstat, int, int, struct stat *>; break;
    case C::CurlPerform: g_table.curlPerform = FailingPerform; break;
    case C::WsaStartup: g_table.wsaStartup = FailingWsaStartup; break;
    case C::WsaCleanup: g_table.wsaCleanup = FailingWsaCleanup; break;
    }
}

void RestoreSystemCalls() {
    std::lock_guard<std::mutex> lock(g_faultMutex);
    for (Fault &f : g_faults) f = Fault{};
    g_base = kReal;
    g_table = kReal;
}

}  // namespace marvostell::posix
