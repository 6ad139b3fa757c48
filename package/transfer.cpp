#include "package/transfer.h"

#include <cstdio>

#include "framework/files.h"
#include "http/http_get.h"
#include "http/transport_failure.h"

namespace marvostell {
namespace {

// Never written to the Internet cache: the package is already kept in the
// local directory, and a second copy (up to 128 MiB) only fills the user's cache.
const HttpRequestStyle kPackageRequest = {nullptr, true, INTERNET_FLAG_NO_CACHE_WRITE, 0, nullptr};

// Opens the local file once the server has answered and appends each piece,
// posting the percentage whenever it changes.
class CPackageSink : public CHttpSink {
public:
    CPackageSink(const TransferRequest &request, uint32_t existingSize)
        : m_request(request), m_nExisting(existingSize), m_nTotal(existingSize) {}

    bool OnAnswer(DWORD status) override {
        if (m_request.rules.observer) {
            PackageEvent event{PackageEvent::kAnswer};
            event.status = status;
            m_request.rules.observer->OnPackageEvent(event);
        }
        if (m_request.rules.Strict() && status != 200 && status != 206) {
            m_nRefusedStatus = status;
            return false;
        }
        m_file.Reset(
            OpenLocalFile(m_request.localPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, OPEN_ALWAYS));
        if (!m_file.IsOpen()) return Fail(GetLastError());
        // The body continues the bytes counted before the request. A file
        // that changed since (another check completed it, say) must not get
        // a second copy appended: this attempt gives way to that opener.
        if (GetFileSize(m_file.Get(), nullptr) != m_nExisting) return Fail(ERROR_SHARING_VIOLATION);
        // A whole body (200) in answer to a range starts the file afresh.
        const bool restart = m_request.rules.Strict() && status == 200 && m_nExisting != 0;
        SetLastError(ERROR_SUCCESS);
        if (SetFilePointer(m_file.Get(), 0, nullptr, restart ? FILE_BEGIN : FILE_END) ==
                INVALID_SET_FILE_POINTER &&
            GetLastError() != ERROR_SUCCESS)
            return Fail(GetLastError());
        if (restart) {
            if (!SetEndOfFile(m_file.Get())) return Fail(GetLastError());
            m_nTotal = 0;
        }
        return true;
    }

    BodyVerdict OnBody(const BYTE *data, DWORD count) override {
        if (count == 0) return kStop;
        DWORD written = 0;
        const bool wrote = WriteFile(m_file.Get(), data, count, &written, nullptr) != 0;
        if (!wrote || written != count) {
            Fail(wrote ? ERROR_DISK_FULL : GetLastError());
            return kFail;
        }
        m_nTotal += count;
        const int64_t percent =
            static_cast<int64_t>(static_cast<uint64_t>(m_nTotal) * 100 / m_request.size);
        if (percent != m_nLastPercent && m_request.rules.notifyWnd) {
            PostMessageA(m_request.rules.notifyWnd, m_request.rules.notifyMsg,
                         static_cast<WPARAM>(percent), 0);
            m_nLastPercent = percent;
        }
        return m_nTotal >= m_request.size ? kStop : kMore;
    }

    // Closes the file before the Internet handles go.
    void Close() { m_file.Close(); }
    uint32_t Total() const { return m_nTotal; }
    DWORD FileError() const { return m_nFileError; }
    DWORD RefusedStatus() const { return m_nRefusedStatus; }

private:
    bool Fail(DWORD code) {
        m_nFileError = code;
        return false;
    }

    const TransferRequest &m_request;
    const uint32_t m_nExisting;
    uint32_t m_nTotal;
    int64_t m_nLastPercent = -1;
    CFileHandle m_file;
    DWORD m_nFileError = 0;
    DWORD m_nRefusedStatus = 0;
};

}  // namespace

StepResult TransferPackage(const TransferRequest &request, bool &complete) {
    complete = false;
    uint32_t existingSize = 0;
    if (FindFileByName(request.localPath.c_str()) &&
        !GetFileStatusSize(request.localPath.c_str(), existingSize))
        existingSize = 0;
    if (existingSize >= request.size) {
        complete = true;
        return StepResult::Success();
    }

    char range[32];
    std::snprintf(range, sizeof range, "Range:bytes=%u-", static_cast<unsigned>(existingSize));
    if (request.rules.observer) {
        PackageEvent event{PackageEvent::kRequest};
        event.from = existingSize;
        request.rules.observer->OnPackageEvent(event);
    }
    CPackageSink sink(request, existingSize);
    HttpGetRequest get{request.server, request.path, &kPackageRequest, range};
    get.buffer = request.buffer;
    get.readSize = kPackagePieceSize;
    get.control = request.rules.control;
    const HttpGetResult answer = HttpGet(get, sink);
    sink.Close();
    if (request.rules.observer) {
        PackageEvent event{PackageEvent::kTransferEnd};
        event.from = existingSize;
        event.received = sink.Total() - existingSize;
        event.status = answer.status;
        request.rules.observer->OnPackageEvent(event);
    }
    complete = sink.Total() >= request.size;
    // The sink refused the answer's status, or the local file failed.
    if (answer.failure == HttpGetResult::kSink)
        return sink.RefusedStatus() ? RequestFailure(Stage::kPackageRequest, sink.RefusedStatus())
                                    : StepResult::Failure(Stage::kPackageFile, sink.FileError());
    const StepResult transport = TransportFailure(answer, Stage::kPackageRequest);
    if (!transport.Ok()) return transport;
    if (request.rules.Strict() && !complete)
        return RequestFailure(Stage::kPackageRequest, ERROR_INTERNET_CONNECTION_ABORTED);
    return StepResult::Success();
}

}  // namespace marvostell
