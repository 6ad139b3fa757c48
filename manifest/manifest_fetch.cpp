// One HTTP GET of the manifest, stored as the local manifest file.
#include "entry/trace.h"
#include "entry/update_client.h"
#include "framework/files.h"

namespace marvostell {
namespace {

const char kContentType[] = "Content-Type: application/x-www-form-urlencoded";
constexpr DWORD kManifestReadSize = 4096;

// Raised by a failed step of the request; the number names the step.
struct FetchFailure {
    int number;
};

// The failed call's code; a call that failed without one must not read as
// success (0) to the host.
int32_t FailedCallCode() {
    const DWORD code = GetLastError();
    return code ? static_cast<int32_t>(code) : kErrorUnexpected;
}

}  // namespace

int CUpdateClient::FetchManifest(const char *server, const char *object, const char *localFile) {
    DWORD bytesRead = 0;
    CHttpHandles http;
    try {
        http.root = InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
        if (!http.root) {
            m_nError = FailedCallCode();
            Trace("InternetOpen failed with error 0x%x\n", static_cast<unsigned>(m_nError));
            throw FetchFailure{1};
        }
        std::string host;
        INTERNET_PORT port;
        SplitHostPort(server, host, port);
        http.connection = InternetConnectA(http.root.Get(), host.c_str(), port, nullptr, nullptr,
                                           INTERNET_SERVICE_HTTP, 0, 1);
        if (!http.connection) {
            m_nError = FailedCallCode();
            Trace("InternetConnect failed with error 0x%x\n", static_cast<unsigned>(m_nError));
            throw FetchFailure{2};
        }
        http.request = HttpOpenRequestA(http.connection.Get(), "GET", object, "HTTP/1.1", nullptr,
                                        nullptr, INTERNET_FLAG_NO_CACHE_WRITE, 0);
        if (!http.request) {
            m_nError = FailedCallCode();
            Trace("HttpOpenRequest failed with error 0x%x\n", static_cast<unsigned>(m_nError));
            throw FetchFailure{3};
        }
        if (!HttpSendRequestA(http.request.Get(), kContentType, sizeof kContentType - 1, nullptr,
                              0)) {
            m_nError = FailedCallCode();
            Trace("HttpSendRequest failed with error 0x%x\n", static_cast<unsigned>(m_nError));
            throw FetchFailure{4};
        }
        DWORD status = 0;
        DWORD statusSize = sizeof status;
        if (!HttpQueryInfoA(http.request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                            &status, &statusSize, nullptr)) {
            m_nError = FailedCallCode();
            throw FetchFailure{5};
        }
        if (status == 401 || status == 407) {
            m_nError = static_cast<int32_t>(status);
            throw FetchFailure{6};
        }
        // One read: whatever it returns is the manifest.
        DWORD count = 0;
        if (InternetReadFile(http.request.Get(), m_pBuffer, kManifestReadSize, &count))
            bytesRead = count;
        http.Close();
    } catch (const FetchFailure &failure) {
        Trace("Exception %d\n", failure.number);
        if (m_nError == 1) m_nError = kErrorUnexpected;
        http.Close();
        return 0;
    } catch (...) {
        Trace("Exception unknown\n");
        m_nError = kErrorUnexpected;
        http.Close();
        return 0;
    }

    CFileHandle file(OpenLocalFile(localFile, GENERIC_WRITE, 0, OPEN_ALWAYS));
    if (!file.IsOpen()) {
        m_nError = static_cast<int32_t>(GetLastError() | kLocalErrorFlag);
        return 0;
    }
    // A write that fails would leave a stale or empty manifest that reads as
    // "nothing newer"; report it as a local-file failure instead. The file is
    // cut after what was written either way, so no old bytes trail behind.
    DWORD written = 0;
    SetLastError(ERROR_DISK_FULL);  // the code of a short write that sets none
    const bool wroteAll =
        WriteFile(file.Get(), m_pBuffer, bytesRead, &written, nullptr) && written == bytesRead;
    const DWORD writeError = GetLastError();
    if (!SetEndOfFile(file.Get()) || !wroteAll) {
        m_nError = static_cast<int32_t>((wroteAll ? GetLastError() : writeError) | kLocalErrorFlag);
        return 0;
    }
    return 1;
}

}  // namespace marvostell
