// Internal to platform/posix: the system calls this folder makes, reached
// through one table whose entries a test can replace.
//
// Every open, read, write, ftruncate, flock, rename (replacing or not), unlink, stat
// (stat, lstat, fstat), every curl_multi_perform and the socket layer's start
// and clean-up go through Sys(). A test builds a table from RealSystemCalls()
// with entries of its own (a stand-in that counts calls, changes an answer or
// fails: tests/support/injected_fault.h) and puts it in use with
// ReplaceSystemCalls; RestoreSystemCalls puts the real calls back. The
// library exports none of this.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <curl/curl.h>

#include "win32_posix.h"

// The calls, one a line: X(field, Kind, result, parameters, real call), the
// real call as system_calls.cpp names it.
// A call fails as the real one does: -1 with errno set; curlPerform with a
// CURLMcode; the socket layer's start and clean-up with a Windows Sockets
// error number, as WSAStartup and WSACleanup answer (0 for success).
// rename never replaces its target; renameReplacing does.
#define MARVOSTELL_SYSTEM_CALLS(X)                                                                 \
    X(open, Open, int, (const char *path, int flags, mode_t mode), OpenFile)                      \
    X(read, Read, ssize_t, (int fd, void *buffer, size_t size), ::read)                           \
    X(write, Write, ssize_t, (int fd, const void *buffer, size_t size), ::write)                  \
    X(ftruncate, Ftruncate, int, (int fd, off_t length), ::ftruncate)                             \
    X(flock, Flock, int, (int fd, int operation), ::flock)                                        \
    X(rename, Rename, int, (const char *from, const char *to), RenameNoReplace)                  \
    X(renameReplacing, RenameReplacing, int, (const char *from, const char *to), ::rename)        \
    X(unlink, Unlink, int, (const char *path), ::unlink)                                          \
    X(stat, Stat, int, (const char *path, struct stat *info), ::stat)                             \
    X(lstat, Lstat, int, (const char *path, struct stat *info), ::lstat)                          \
    X(fstat, Fstat, int, (int fd, struct stat *info), ::fstat)                                    \
    X(curlPerform, CurlPerform, CURLMcode, (CURLM * multi, int *running), curl_multi_perform)     \
    X(wsaStartup, WsaStartup, int, (WORD versionRequested, LPWSADATA data), StartSocketLayer)     \
    X(wsaCleanup, WsaCleanup, int, (), CleanUpSocketLayer)

namespace marvostell::posix {

struct SystemCalls {
#define MARVOSTELL_SYSTEM_CALL_FIELD(field, Kind, Result, Parameters, real) Result(*field) Parameters;
    MARVOSTELL_SYSTEM_CALLS(MARVOSTELL_SYSTEM_CALL_FIELD)
#undef MARVOSTELL_SYSTEM_CALL_FIELD
};

enum class SystemCall {
#define MARVOSTELL_SYSTEM_CALL_KIND(field, Kind, Result, Parameters, real) Kind,
    MARVOSTELL_SYSTEM_CALLS(MARVOSTELL_SYSTEM_CALL_KIND)
#undef MARVOSTELL_SYSTEM_CALL_KIND
};

// The table in use.
const SystemCalls &Sys();

// The real calls, for a table of a test's own to start from and pass calls on to.
const SystemCalls &RealSystemCalls();
// Puts a test's own table in use.
void ReplaceSystemCalls(const SystemCalls &table);
// Every entry back to the real call.
void RestoreSystemCalls();

// The socket layer's start and clean-up as this folder implements them
// (winsock.cpp): the real entries of the table.
int StartSocketLayer(WORD versionRequested, LPWSADATA data);
int CleanUpSocketLayer();

}  // namespace marvostell::posix
