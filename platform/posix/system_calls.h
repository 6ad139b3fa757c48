// Internal to platform/posix: the system calls this folder makes, reached
// through one table so that a test can make a chosen call fail.
//
// Every open, read, write, ftruncate, flock, no-replace rename, unlink, stat
// (stat, lstat, fstat) and every curl_multi_perform of the layer goes through
// Sys(). FailSystemCall swaps one entry for a stand-in that passes calls on
// until the Nth, which fails with the errno given (curl's step answers
// CURLM_INTERNAL_ERROR); RestoreSystemCalls puts the real calls back. The
// library exports none of this: only the static core that tests link sees it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <curl/curl.h>

namespace marvostell::posix {

struct SystemCalls {
    int (*open)(const char *path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void *buffer, size_t size);
    ssize_t (*write)(int fd, const void *buffer, size_t size);
    int (*ftruncate)(int fd, off_t length);
    int (*flock)(int fd, int operation);
    int (*rename)(const char *from, const char *to);  // never replaces the target
    int (*unlink)(const char *path);
    int (*stat)(const char *path, struct stat *info);
    int (*lstat)(const char *path, struct stat *info);
    int (*fstat)(int fd, struct stat *info);
    CURLMcode (*curlPerform)(CURLM *multi, int *running);
};

enum class SystemCall { Open, Read, Write, Ftruncate, Flock, Rename, Unlink, Stat, Lstat, Fstat,
                        CurlPerform };

// The table in use.
const SystemCalls &Sys();

// From now on, the nth call (1 for the next) of that kind fails with err;
// the calls before and after it go through.
void FailSystemCall(SystemCall call, unsigned nth, int err);
// Every entry back to the real call.
void RestoreSystemCalls();

}  // namespace marvostell::posix
