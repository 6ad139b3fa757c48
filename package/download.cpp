// The resumable package transfer: asks for the bytes past the local file's
// end, appends the body to the file and posts progress in percent.
#include <cstdio>
#include <cstring>

#include "entry/update_client.h"
#include "framework/files.h"

namespace marvostell {
namespace {

constexpr DWORD kReadSize = 8192;

// Raised by a failed step of the transfer, after m_nError holds its code.
struct TransferFailure {};

}  // namespace

int CUpdateClient::DownloadFile(const char *localPath) {
    uint32_t existingSize = 0;
    if (FindFileByName(localPath) && !GetFileStatusSize(localPath, existingSize)) existingSize = 0;
    if (existingSize >= m_nPackageSize) {
        m_bDownloadComplete = 1;
        return 1;
    }

    char range[32];
    std::snprintf(range, sizeof range, "Range:bytes=%u-", static_cast<unsigned>(existingSize));

    CHttpHandles http;
    const auto fail = [this]() {
        m_nError = static_cast<int32_t>(GetLastError() | kLocalErrorFlag);
        throw TransferFailure{};
    };
    try {
        http.root = InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (!http.root) fail();
        std::string host;
        INTERNET_PORT port;
        SplitHostPort(m_strServer, host, port);
        http.connection = InternetConnectA(http.root.Get(), host.c_str(), port, nullptr, nullptr,
                                           INTERNET_SERVICE_HTTP, 0, 0);
        if (!http.connection) fail();
        const char *acceptTypes[] = {"*/*", nullptr};
        http.request = HttpOpenRequestA(http.connection.Get(), "GET", m_strPackagePath.c_str(),
                                        nullptr, nullptr, acceptTypes, 0, 0);
        if (!http.request) fail();
        HttpAddRequestHeadersA(http.request.Get(), range, static_cast<DWORD>(std::strlen(range)),
                               HTTP_ADDREQ_FLAG_ADD);
        if (!HttpSendRequestA(http.request.Get(), nullptr, 0, nullptr, 0)) fail();

        // Whatever body comes (the range, the whole file or an error page)
        // continues the file; the digest check judges it afterwards.
        CFileHandle file(OpenLocalFile(localPath, GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS));
        if (!file.IsOpen()) fail();
        // The body continues the bytes counted before the request. A file
        // that changed since (another check completed it, say) must not get
        // a second copy appended: this attempt gives way to that opener.
        if (GetFileSize(file.Get(), nullptr) != existingSize) {
            SetLastError(ERROR_SHARING_VIOLATION);
            fail();
        }
        SetLastError(ERROR_SUCCESS);
        if (SetFilePointer(file.Get(), 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER &&
            GetLastError() != ERROR_SUCCESS)
            fail();

        uint32_t total = existingSize;
        int64_t lastPercent = -1;
        for (;;) {
            DWORD count = 0;
            if (!InternetReadFile(http.request.Get(), m_pBuffer, kReadSize, &count)) break;
            DWORD written = 0;
            if (!WriteFile(file.Get(), m_pBuffer, count, &written, nullptr)) fail();
            if (written != count) {
                SetLastError(ERROR_DISK_FULL);
                fail();
            }
            total += count;
            const int64_t percent =
                static_cast<int64_t>(static_cast<uint64_t>(total) * 100 / m_nPackageSize);
            if (percent != lastPercent && m_hNotifyWnd) {
                PostMessageA(m_hNotifyWnd, m_nNotifyMsg, static_cast<WPARAM>(percent), 0);
                lastPercent = percent;
            }
            if (total >= m_nPackageSize || count == 0) break;
        }
        file.Close();
        http.Close();
        if (total >= m_nPackageSize) m_bDownloadComplete = 1;
        return 1;
    } catch (...) {
        // The file, if open, was closed as the try block unwound.
        http.Close();
        return 0;
    }
}

}  // namespace marvostell
