/* Marvostell: update check for host applications.
 *
 * Two exports. CheckNewVersion fetches the update manifest named by the URL,
 * stores it as "update.ini" in the local directory, selects at most one newer
 * package, downloads it into the same directory (resuming a partial file),
 * checks its MD5 digest and returns. CheckNewVersionEx does the same, and can
 * be cancelled, bounded in time, asked only whether a package is offered, and
 * reports a broken server or transfer as such.
 *
 * The functions use the default C calling convention (__cdecl on Windows).
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
 *   bit 31 set  a local file could not be created, written or read (a package
 *               that cannot be read for its digest stays as it is), or the
 *               package request failed: the low bits hold the system error code
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

/* Results of CheckNewVersionEx only, besides those above. */
#define MARVOSTELL_AVAILABLE            2   /* check only: a newer package is offered, nothing downloaded */
#define MARVOSTELL_ERR_SIGNATURE        7   /* the manifest's signature cannot be accepted */
#define MARVOSTELL_ERR_NOT_A_MANIFEST   9   /* a 200 answer without a [General] section */
#define MARVOSTELL_CANCELLED         1223   /* the host set its cancel flag (ERROR_CANCELLED) */
#define MARVOSTELL_TIMED_OUT         1460   /* the deadline passed (ERROR_TIMEOUT) */

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

/* CheckNewVersionEx's flags. */
#define MARVOSTELL_CHECK_ONLY   0x1u  /* select, but do not download */
#define MARVOSTELL_USE_HTTPS    0x2u  /* an https:// URL is fetched over TLS (default port 443), the package too */
#define MARVOSTELL_IGNORE_ROLLOUT 0x4u  /* a check a person asked for: a staged release is offered
                                         * whatever this host's share (unless its Rollout is 0) */

/* What the host asks of CheckNewVersionEx; null asks for nothing more than
 * CheckNewVersion does. Set size to sizeof(MarvostellOptions): a module reads
 * only the fields that size covers, and later versions may append fields. */
typedef struct MarvostellOptions {
    uint32_t size;               /* sizeof(MarvostellOptions): later versions may append fields */
    uint32_t flags;              /* MARVOSTELL_CHECK_ONLY | MARVOSTELL_USE_HTTPS | MARVOSTELL_IGNORE_ROLLOUT */
    const char *trustedKeys;     /* null: no signature required */
    volatile int32_t *cancel;    /* null, or a flag that any thread sets to nonzero to stop the check */
    uint32_t deadlineSeconds;    /* 0: none; otherwise the whole call ends by then */
    uint32_t stallSeconds;       /* 0: 60; a transfer that receives nothing for this long fails */
    const char *userAgent;       /* null: the module's usual User-Agent line */
} MarvostellOptions;

/* The offer's flags. */
#define MARVOSTELL_OFFER_CRITICAL 0x1u  /* the manifest marks the package Critical=1 */
#define MARVOSTELL_OFFER_PATCH    0x2u  /* a patch from an earlier package in lpszLocalDir instead of the whole
                                         * package (signed manifests only); downloadSize is the patch's */
#define MARVOSTELL_OFFER_STAGED   0x4u  /* the package came from the staged list: this host is in its rollout */

/* The package selected, filled whenever one is (results 1, 2, 5, 6 and the
 * package step's errors). The host sets size to sizeof(MarvostellOffer): a
 * module writes only the fields that size covers, so a host built with an
 * older, shorter structure gets exactly what it got before, and later
 * versions may append fields. Texts are NUL-terminated; one that does not fit
 * is cut at a character boundary. */
typedef struct MarvostellOffer {
    uint32_t size;               /* offset 0: sizeof(MarvostellOffer), set by the host */
    uint32_t version;            /* 4: the selected package's version */
    uint32_t packageSize;        /* 8: its PackageSize */
    char section[256];           /* 12: its section name */
    uint32_t flags;              /* 268: MARVOSTELL_OFFER_CRITICAL, _PATCH, _STAGED */
    uint32_t downloadSize;       /* 272: bytes this call downloads or downloaded (a patch's size when one applies) */
    char displayVersion[64];     /* 276: DisplayVersion=, the version for people; empty when absent */
    char notesUrl[1024];         /* 340: Notes=, the release notes' URL; empty when absent */
} MarvostellOffer;               /* sizeof 1364 */

/* The arguments of CheckNewVersion, and:
 * lpszPackagePath    receives the package's full local path, or null
 * nPackagePathSize   its size in bytes; a path that does not fit returns
 *                    MARVOSTELL_LOCAL_FILE_FLAG | 122 (ERROR_INSUFFICIENT_BUFFER)
 *                    and keeps the verified package for a call with more room
 * options, offer     either may be null
 * Returns the codes above, and besides CheckNewVersion's:
 *   2 with MARVOSTELL_CHECK_ONLY when a package is offered (offer filled);
 *   the HTTP status of a manifest answer other than 200;
 *   9 for a 200 answer without a [General] section;
 *   1223 when *cancel became nonzero, 1460 when the deadline passed: a partial
 *        package stays for the next call to resume;
 *   12002 (with bit 31 in the package step) when a transfer stalled;
 *   bit 31 | 12030 when the package transfer ended before PackageSize bytes,
 *        bit 31 | status when the package answer was not 200 or 206: the
 *        partial package stays, nothing is moved to ".err";
 *   87 for a userAgent with a line break, before any request. */
MARVOSTELL_API int MARVOSTELL_CALL CheckNewVersionEx(void *hNotifyWnd, uint32_t nNotifyMsg,
                                                     uint32_t dwCurrentVersion,
                                                     const char *lpszManifestUrl,
                                                     const char *lpszLocalDir,
                                                     char *lpszPackagePath,
                                                     uint32_t nPackagePathSize,
                                                     const MarvostellOptions *options,
                                                     MarvostellOffer *offer);

typedef int (MARVOSTELL_CALL *MarvostellCheckNewVersionExFn)(
    void *hNotifyWnd, uint32_t nNotifyMsg, uint32_t dwCurrentVersion, const char *lpszManifestUrl,
    const char *lpszLocalDir, char *lpszPackagePath, uint32_t nPackagePathSize,
    const MarvostellOptions *options, MarvostellOffer *offer);

#ifdef __cplusplus
}
#endif

#endif /* MARVOSTELL_H */
