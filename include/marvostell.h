/* Marvostell: update check for host applications.
 *
 * One export, CheckNewVersion. It fetches the update manifest named by the URL,
 * stores it as "update.ini" in the local directory, selects at most one newer
 * package, downloads it into the same directory (resuming a partial file),
 * checks its MD5 digest and returns.
 *
 * The function uses the default C calling convention (__cdecl on Windows).
 */
#ifndef MARVOSTELL_H
#define MARVOSTELL_H

#include <stdint.h>

#if defined(_WIN32)
#  define MARVOSTELL_CALL __cdecl
#  if defined(MARVOSTELL_BUILDING)
#    define MARVOSTELL_API
#  else
#    define MARVOSTELL_API __declspec(dllimport)
#  endif
#else
#  define MARVOSTELL_CALL
#  define MARVOSTELL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Results of CheckNewVersion. Any other value is an error code:
 *   401, 407    the server asked for authentication for the manifest;
 *   -1          an unexpected failure inside the module (out of memory, say);
 *   bit 31 set  a local file could not be created or written, or the package
 *               request failed: the low bits hold the system error code
 *               (GetLastError on Windows, its Win32 equivalent on Linux);
 *   otherwise   the Internet error (12000-12200) or system error of the
 *               failed manifest request. */
#define MARVOSTELL_UP_TO_DATE           0  /* nothing newer is offered */
#define MARVOSTELL_UPDATED              1  /* package downloaded and verified */
#define MARVOSTELL_ERR_SOCKETS          3  /* the socket layer cannot start */
#define MARVOSTELL_ERR_BAD_URL          4  /* no "/" after the host name */
#define MARVOSTELL_ERR_PACKAGE_ENTRY    5  /* Package/PackageSize/Md5 unusable */
#define MARVOSTELL_ERR_DIGEST_MISMATCH  6  /* the package fails its MD5 check */
#define MARVOSTELL_ERR_UNEXPECTED     (-1)
#define MARVOSTELL_LOCAL_FILE_FLAG    ((int32_t)0x80000000)

/* Size in bytes, the terminating NUL included, of the buffer that receives the
 * package path: the platform's path limit (MAX_PATH on Windows, PATH_MAX on
 * Linux). A literal, so that strict C (-std=c99), where <limits.h> does not
 * define PATH_MAX, can use it. */
#if defined(_WIN32)
#  define MARVOSTELL_PATH_BUFFER_SIZE 260
#elif defined(__linux__)
#  define MARVOSTELL_PATH_BUFFER_SIZE 4096
#else
#  include <limits.h>
#  if defined(PATH_MAX)
#    define MARVOSTELL_PATH_BUFFER_SIZE PATH_MAX
#  else
#    define MARVOSTELL_PATH_BUFFER_SIZE 4096
#  endif
#endif

/* Progress target on Linux and other POSIX systems: pass a pointer to one as
 * hNotifyWnd. post() is called on the downloading thread with the message
 * number, the percentage as wparam and 0 as lparam; like PostMessage it must
 * queue and return at once. A POSIX host that sets a file-size limit should
 * ignore SIGXFSZ, so that a write past it fails the call (a local-file error)
 * instead of ending the process. On Windows hNotifyWnd is a window handle (HWND)
 * that receives posted messages. A null hNotifyWnd means no progress. */
typedef struct MarvostellNotifyTarget {
    void (*post)(void *context, uint32_t message, uintptr_t wparam, intptr_t lparam);
    void *context;
} MarvostellNotifyTarget;

/* hNotifyWnd         window (Windows) or MarvostellNotifyTarget* (POSIX), or null
 * nNotifyMsg         message number of the progress messages
 * dwCurrentVersion   the host's version, compared unsigned with the manifest's
 * lpszManifestUrl    "http://host[:port]/path/update.ini" (any scheme means HTTP)
 * lpszLocalDir       directory for "update.ini" and the package
 * lpszPackagePath    receives the package's full local path; must hold
 *                    MARVOSTELL_PATH_BUFFER_SIZE bytes
 * Returns one of the codes above.
 *
 * The call blocks until the check is over, a whole download included: call it
 * on a worker thread, never on a thread that runs a user interface. */
MARVOSTELL_API int MARVOSTELL_CALL CheckNewVersion(void *hNotifyWnd, uint32_t nNotifyMsg,
                                                   uint32_t dwCurrentVersion,
                                                   const char *lpszManifestUrl,
                                                   const char *lpszLocalDir,
                                                   char *lpszPackagePath);

/* The export's type, for hosts that load the module at run time:
 *   MarvostellCheckNewVersionFn check = (MarvostellCheckNewVersionFn)
 *       GetProcAddress(module, "CheckNewVersion");
 * (marvostell_load.h does this on Windows, with clear errors.) */
typedef int (MARVOSTELL_CALL *MarvostellCheckNewVersionFn)(void *hNotifyWnd, uint32_t nNotifyMsg,
                                                           uint32_t dwCurrentVersion,
                                                           const char *lpszManifestUrl,
                                                           const char *lpszLocalDir,
                                                           char *lpszPackagePath);

#ifdef __cplusplus
}
#endif

#endif /* MARVOSTELL_H */
