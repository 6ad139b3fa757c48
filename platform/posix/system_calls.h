// Internal to platform/posix: the system calls this folder makes, reached
// through one table so that a test can make a chosen call fail.
//
// Every open, read, write, ftruncate, flock, rename (replacing or not), unlink, stat
// (stat, lstat, fstat), every curl_multi_perform and the socket layer's start
// and clean-up go through Sys(). FailSystemCall swaps one entry for a stand-in
// that passes calls on until the Nth, which fails with the errno given (curl's
// step answers CURLM_INTERNAL_ERROR, WSAStartup and WSACleanup answer the
// number itself); RestoreSystemCalls puts the real calls back. The library
// exports none of this: only the static core that tests link sees it.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <curl/curl.h>

#include "win32_posix.h"

namespace marvostell::posix {

struct SystemCalls {
    int (*open)(const char *path, int flags, mode_t mode);
    ssize_t (*read)(int fd, void *buffer, size_t size);
    ssize_t (*write)(int fd, const void *buffer, size_t size);
    int (*ftruncate)(int fd, off_t length);
    int (*flock)(int fd, int operation);
    int (*rename)(const char *from, const char *to);  // never replaces the target
    int (*renameReplacing)(const char *from, const char *to);
    int (*unlink)(const char *path);
    int (*stat)(const char *path, struct stat *info);
    int (*lstat)(const char *path, struct stat *info);
    int (*fstat)(int fd, struct stat *info);
    CURLMcode (*curlPerform)(CURLM *multi, int *running);
    // 0 or a Windows Sockets error number, as WSAStartup and WSACleanup answer.
    int (*wsaStartup)(WORD versionRequested, LPWSADATA data);
    int (*wsaCleanup)();
};

enum class SystemCall { Open, Read, Write, Ftruncate, Flock, Rename, RenameReplacing, Unlink, Stat,
                        Lstat, Fstat, CurlPerform, WsaStartup, WsaCleanup };

// The table in use.
const SystemCalls &Sys();

enum class FaultMode {
    Once,       // the calls after the failing one go through again
    FromThenOn  // and every later call fails too, as a disk that stays full
};

// From now on, the nth call (1 for the next) of that kind fails with err; the
// calls before it go through, those after it as the mode says.
void FailSystemCall(SystemCall call, unsigned nth, int err, FaultMode mode = FaultMode::Once);

// The real calls, for a table of a test's own to pass calls on to.
const SystemCalls &RealSystemCalls();
// Puts a test's own table in use (a stand-in that counts calls or changes an
// answer); faults injected afterwards pass their other calls on to it.
void ReplaceSystemCalls(const SystemCalls &table);
// Every entry back to the real call, every fault cleared.
void RestoreSystemCalls();

// The socket layer's start and clean-up as this folder implements them
// (winsock.cpp): the real entries of the table.
int StartSocketLayer(WORD versionRequested, LPWSADATA data);
int CleanUpSocketLayer();

}  // namespace marvostell::posix
