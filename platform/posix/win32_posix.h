// The subset of the Win32 API that the module and its tools call, declared
// with the real names and signatures and implemented for POSIX in this
// folder. Each call takes the arguments the callers pass, as noted below; any
// other flag, mode or kind fails with ERROR_INVALID_PARAMETER.
#pragma once

#include <cstddef>
#include <cstdint>

#include "marvostell.h"
#include "platform/error_map.h"

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef char CHAR;
typedef const char *LPCSTR;
typedef char *LPSTR;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef DWORD *LPDWORD;
typedef LONG *PLONG;
typedef void *HANDLE;
typedef void *HINSTANCE;
typedef void *HINTERNET;
typedef uint16_t INTERNET_PORT;
typedef uintptr_t DWORD_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
// A window handle is the host's notify target on POSIX.
typedef MarvostellNotifyTarget *HWND;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define MAX_PATH 260
#define LOBYTE(w) ((BYTE)((w) & 0xff))
#define HIBYTE(w) ((BYTE)(((w) >> 8) & 0xff))

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

// CreateFileA
#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u
#define CREATE_NEW 1
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u
#define FILE_ATTRIBUTE_REPARSE_POINT 0x00000400u
#define FILE_FLAG_OPEN_REPARSE_POINT 0x00200000u
// A reparse point that names another file (link, junction, mount point).
#define IsReparseTagNameSurrogate(tag) (((tag) & 0x20000000u) != 0)
#define FILE_BEGIN 0
#define FILE_END 2
#define INVALID_SET_FILE_POINTER ((DWORD)-1)
#define INVALID_FILE_SIZE ((DWORD)0xFFFFFFFF)

// Error codes (GetLastError), each named once in error_map.h.
#define MARVOSTELL_ERROR_CONSTANT(name, number, text) inline constexpr int name = number;
MARVOSTELL_SYSTEM_ERROR_MAP(MARVOSTELL_ERROR_CONSTANT)
MARVOSTELL_INTERNET_ERROR_MAP(MARVOSTELL_ERROR_CONSTANT)
#undef MARVOSTELL_ERROR_CONSTANT

// WinINet
#define INTERNET_OPEN_TYPE_PRECONFIG 0
#define INTERNET_DEFAULT_HTTP_PORT 80
#define INTERNET_DEFAULT_HTTPS_PORT 443
#define INTERNET_OPTION_CONNECT_TIMEOUT 2
#define INTERNET_OPTION_SEND_TIMEOUT 5
#define INTERNET_OPTION_RECEIVE_TIMEOUT 6
#define INTERNET_FLAG_SECURE 0x00800000u
#define INTERNET_SERVICE_HTTP 3
#define INTERNET_FLAG_NO_CACHE_WRITE 0x04000000u
#define INTERNET_FLAG_NO_AUTO_REDIRECT 0x00200000u
#define INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP 0x00008000u
#define INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS 0x00004000u
#define HTTP_QUERY_CONTENT_LENGTH 5
#define HTTP_QUERY_STATUS_CODE 19
#define HTTP_QUERY_LOCATION 33
#define HTTP_QUERY_FLAG_NUMBER 0x20000000u
#define HTTP_ADDREQ_FLAG_ADD 0x20000000u

#define INTERNET_ERROR_BASE 12000

// Error mode
#define SEM_FAILCRITICALERRORS 0x0001u
#define SEM_NOOPENFILEERRORBOX 0x8000u

// The versions only: the texts and limits of Windows' WSADATA have no
// meaning here and no reader.
struct WSADATA {
    WORD wVersion;
    WORD wHighVersion;
};
typedef WSADATA *LPWSADATA;

// The find data and file information hold the fields the callers read; the
// rest of Windows' structures (times, reserved words, the short name) has no
// reader here.
struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    DWORD nFileSizeLow;
    CHAR cFileName[MAX_PATH];
};
typedef WIN32_FIND_DATAA *LPWIN32_FIND_DATAA;

struct BY_HANDLE_FILE_INFORMATION {
    DWORD dwFileAttributes;
    DWORD dwVolumeSerialNumber;
    DWORD nNumberOfLinks;
    DWORD nFileIndexHigh;
    DWORD nFileIndexLow;
};
typedef BY_HANDLE_FILE_INFORMATION *LPBY_HANDLE_FILE_INFORMATION;

enum FILE_INFO_BY_HANDLE_CLASS { FileAttributeTagInfo = 9 };
struct FILE_ATTRIBUTE_TAG_INFO {
    DWORD FileAttributes;
    DWORD ReparseTag;
};

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES *LPSECURITY_ATTRIBUTES;
struct OVERLAPPED;
typedef OVERLAPPED *LPOVERLAPPED;

// errors.cpp
DWORD GetLastError();
void SetLastError(DWORD code);
UINT SetErrorMode(UINT mode);
BOOL IsDBCSLeadByte(BYTE c);

// files.cpp: descriptors; share modes are locks (share_modes.h).
// CreateFileA: GENERIC_READ and/or GENERIC_WRITE, any FILE_SHARE_* modes,
// OPEN_EXISTING, OPEN_ALWAYS or CREATE_NEW, and no flags but FILE_ATTRIBUTE_NORMAL and
// FILE_FLAG_OPEN_REPARSE_POINT.
HANDLE CreateFileA(LPCSTR name, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD toWrite, LPDWORD written,
               LPOVERLAPPED overlapped);
// FILE_BEGIN or FILE_END, 32-bit positions only (no high part).
DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distanceHigh, DWORD method);
BOOL SetEndOfFile(HANDLE file);
DWORD GetFileSize(HANDLE file, LPDWORD sizeHigh);
BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info);
// FileAttributeTagInfo only. A descriptor is never a link, so no tag is set.
BOOL GetFileInformationByHandleEx(HANDLE file, FILE_INFO_BY_HANDLE_CLASS infoClass, LPVOID info,
                                  DWORD size);
BOOL CloseHandle(HANDLE object);
// file_names.cpp
BOOL DeleteFileA(LPCSTR name);
BOOL MoveFileA(LPCSTR existing, LPCSTR target);
DWORD GetCurrentProcessId();
#define MOVEFILE_REPLACE_EXISTING 0x00000001u
// MoveFileA, or with MOVEFILE_REPLACE_EXISTING a rename over the target.
BOOL MoveFileExA(LPCSTR existing, LPCSTR target, DWORD flags);
// Finds one file by exact name (no wild cards): size and attributes from
// lstat; a symbolic link is found as a reparse point.
HANDLE FindFirstFileA(LPCSTR name, LPWIN32_FIND_DATAA data);
BOOL FindClose(HANDLE find);

// messages.cpp: the window is the host's notify target
BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// winsock.cpp
int WSAStartup(WORD versionRequested, LPWSADATA data);
int WSACleanup();

// profile.cpp: a value, or with a null section or key the list of section
// or key names.
DWORD GetPrivateProfileStringA(LPCSTR section, LPCSTR key, LPCSTR defaultValue, LPSTR returned,
                               DWORD size, LPCSTR fileName);

// wininet.cpp: WinINet on libcurl, for GET requests over HTTP/1.1:
// INTERNET_OPEN_TYPE_PRECONFIG with no proxy of its own; a version of
// "HTTP/1.1" or null and no referrer; HTTP_ADDREQ_FLAG_ADD; no optional data
// to send; HTTP_QUERY_STATUS_CODE or HTTP_QUERY_CONTENT_LENGTH with
// HTTP_QUERY_FLAG_NUMBER, or HTTP_QUERY_LOCATION as text, at index 0.
HINTERNET InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR proxyBypass,
                        DWORD flags);
HINTERNET InternetConnectA(HINTERNET internet, LPCSTR serverName, INTERNET_PORT serverPort,
                           LPCSTR userName, LPCSTR password, DWORD service, DWORD flags,
                           uintptr_t context);
HINTERNET HttpOpenRequestA(HINTERNET connect, LPCSTR verb, LPCSTR objectName, LPCSTR version,
                           LPCSTR referrer, LPCSTR *acceptTypes, DWORD flags,
                           uintptr_t context);
BOOL HttpAddRequestHeadersA(HINTERNET request, LPCSTR headers, DWORD headersLength,
                            DWORD modifiers);
BOOL HttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID optional,
                      DWORD optionalLength);
BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength,
                    LPDWORD index);
BOOL InternetReadFile(HINTERNET file, LPVOID buffer, DWORD toRead, LPDWORD read);
// Waits until some of the body has arrived or it has ended, and tells how
// much can be read at once (0 at the end); no flags, no context.
BOOL InternetQueryDataAvailable(HINTERNET file, LPDWORD available, DWORD flags,
                                DWORD_PTR context);
BOOL InternetCloseHandle(HINTERNET handle);
// The time-outs only; each handle passes its own to the handles opened from it,
// and a request's receive time-out holds from its next wait on.
BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD bufferLength);
