// File-find and file-status by name, and owners that close file and Internet
// handles when they go out of scope.
#pragma once

#include <cstdint>

#include "platform/win32.h"

namespace marvostell {

// The name of the local manifest copy in the local directory.
inline constexpr char kLocalManifestName[] = "update.ini";

// Whether a file (or directory) of exactly this name exists.
bool FindFileByName(const char *path);

// The low 32 bits of the size recorded in the file's directory entry.
bool GetFileStatusSize(const char *path, uint32_t &size);

// CreateFileA for a file of the local directory, which the module never
// reaches through a symbolic link, junction or mount point at the last
// component: a user who may write to that directory must not make the module
// write, extend, read or move a file elsewhere. Such a file fails with
// ERROR_CANT_RESOLVE_FILENAME, and so does an opening for writing of a file
// that has other names (hard links).
HANDLE OpenLocalFile(const char *path, DWORD access, DWORD shareMode, DWORD disposition);

class CFileHandle {
public:
    CFileHandle() = default;
    explicit CFileHandle(HANDLE handle) : m_hFile(handle) {}
    ~CFileHandle() { Close(); }
    CFileHandle(const CFileHandle &) = delete;
    CFileHandle &operator=(const CFileHandle &) = delete;

    bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }
    HANDLE Get() const { return m_hFile; }
    // Closes the handle held, if any, and holds `handle` instead.
    void Reset(HANDLE handle) {
        Close();
        m_hFile = handle;
    }
    void Close() {
        if (IsOpen()) CloseHandle(m_hFile);
        m_hFile = INVALID_HANDLE_VALUE;
    }

private:
    HANDLE m_hFile = INVALID_HANDLE_VALUE;
};

class CInternetHandle {
public:
    CInternetHandle() = default;
    ~CInternetHandle() { Close(); }
    CInternetHandle(const CInternetHandle &) = delete;
    CInternetHandle &operator=(const CInternetHandle &) = delete;

    CInternetHandle &operator=(HINTERNET handle) {
        Close();
        m_hInternet = handle;
        return *this;
    }
    explicit operator bool() const { return m_hInternet != nullptr; }
    HINTERNET Get() const { return m_hInternet; }
    // Drops a handle that someone else has closed.
    void Forget() { m_hInternet = nullptr; }
    void Close() {
        if (m_hInternet) InternetCloseHandle(m_hInternet);
        m_hInternet = nullptr;
    }

private:
    HINTERNET m_hInternet = nullptr;
};

// The three handles of one HTTP request. Close() and the destructor close the
// request, then the connection, then the root, whichever are open.
struct CHttpHandles {
    CInternetHandle root;
    CInternetHandle connection;
    CInternetHandle request;

    ~CHttpHandles() { Close(); }
    void Close() {
        request.Close();
        connection.Close();
        root.Close();
    }
};

}  // namespace marvostell
