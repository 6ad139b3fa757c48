#include "manifest/manifest_fetch.h"

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstring>
#include <thread>

#include "framework/files.h"
#include "framework/strings.h"
#include "framework/trace.h"
#include "http/transport_failure.h"
#include "platform/ini_lines.h"

namespace marvostell {
namespace {

const HttpRequestStyle kManifestRequest = {
    "HTTP/1.1", false, INTERNET_FLAG_NO_CACHE_WRITE, 1,
    "Content-Type: application/x-www-form-urlencoded"};

// Takes the first read of the body, whatever it returns; 401 and 407 end the
// fetch with their status, and so does any status but 200 when strict.
class CManifestSink : public CHttpSink {
public:
    explicit CManifestSink(bool strict) : m_bStrict(strict) {}
    bool OnAnswer(DWORD status) override {
        if (m_bStrict) return status == 200;
        return status != 401 && status != 407;
    }
    BodyVerdict OnBody(const BYTE *, DWORD count) override {
        m_nBytes = count;
        return kStop;
    }
    DWORD Bytes() const { return m_nBytes; }

private:
    const bool m_bStrict;
    DWORD m_nBytes = 0;
};

const char *CallName(HttpGetResult::Failure failure) {
    switch (failure) {
    case HttpGetResult::kOpen: return "InternetOpen";
    case HttpGetResult::kConnect: return "InternetConnect";
    case HttpGetResult::kOpenRequest: return "HttpOpenRequest";
    case HttpGetResult::kSend: return "HttpSendRequest";
    default: return nullptr;
    }
}

// The failure traces number the steps: 1 open, 2 connect, 3 request,
// 4 send (HttpGetResult's order), 5 status, 6 a refused status.
void TraceFailure(const HttpGetResult &answer) {
    if (answer.failure == HttpGetResult::kSink || answer.failure == HttpGetResult::kStatus) {
        Trace("Exception %d\n", answer.failure == HttpGetResult::kSink ? 6 : 5);
    } else if (const char *call = CallName(answer.failure)) {
        Trace("%s failed with error 0x%x\n", call,
              answer.error ? static_cast<unsigned>(answer.error) : 0xFFFFFFFFu);
        Trace("Exception %d\n", static_cast<int>(answer.failure));
    }
}

// A reader holds the manifest for a few milliseconds at a time.
constexpr int kMoveAttempts = 50;

bool IsHttpsScheme(const std::string &scheme) {
    if (scheme.size() != 5) return false;
    for (size_t i = 0; i < 5; ++i)
        if (std::tolower(static_cast<unsigned char>(scheme[i])) != "https"[i]) return false;
    return true;
}

// Whether the manifest has a [General] section (of any case, as the profile
// reader finds it).
bool HasGeneralSection(const CManifestReader &manifest) {
    char names[kManifestLimit + 2];
    const DWORD length = manifest.Read(nullptr, nullptr, "", names, sizeof names);
    for (DWORD at = 0; at < length && names[at] != '\0'; at += static_cast<DWORD>(std::strlen(names + at)) + 1) {
        if (ini::SameName(names + at, "General")) return true;
    }
    return false;
}

// A name beside the manifest that no other check uses at the same time.
std::string TemporaryName(const char *localFile) {
    static std::atomic<unsigned> counter{0};
    return std::string(localFile) + "." + std::to_string(GetCurrentProcessId()) + "-" +
           std::to_string(counter++) + ".new";
}

// Replaces the manifest in one step: a check that reads it meanwhile, in this
// process or another, sees the old manifest or the new one, never a mixture,
// and a write that fails leaves the old one whole. A reader holding the file
// for a moment keeps it from being replaced; the move is tried again then.
StepResult StoreManifest(const char *localFile, const BYTE *bytes, DWORD size) {
    const std::string temporary = TemporaryName(localFile);
    CFileHandle file(OpenLocalFile(temporary.c_str(), GENERIC_WRITE, 0, CREATE_NEW));
    if (!file.IsOpen()) return StepResult::Failure(Stage::kManifestFile, GetLastError());
    DWORD written = 0;
    SetLastError(ERROR_DISK_FULL);  // the code of a short write that sets none
    const bool wroteAll = WriteFile(file.Get(), bytes, size, &written, nullptr) && written == size;
    const DWORD writeError = GetLastError();
    file.Close();
    DWORD moveError = ERROR_SUCCESS;
    for (int attempt = 0; wroteAll && attempt < kMoveAttempts; ++attempt) {
        if (MoveFileExA(temporary.c_str(), localFile, MOVEFILE_REPLACE_EXISTING))
            return StepResult::Success();
        moveError = GetLastError();
        if (moveError != ERROR_SHARING_VIOLATION && moveError != ERROR_ACCESS_DENIED) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    DeleteFileA(temporary.c_str());
    return StepResult::Failure(Stage::kManifestFile, wroteAll ? moveError : writeError);
}

}  // namespace

StepResult ParseServerUrl(const char *url, std::string &server, std::string &object, bool *https) {
    std::string text = url;
    TrimWhitespace(text);
    const std::string::size_type scheme = text.find("://");
    if (https) *https = scheme != std::string::npos && IsHttpsScheme(text.substr(0, scheme));
    if (scheme != std::string::npos) text.erase(0, scheme + 3);

    const std::string::size_type slash = text.find('/');
    if (slash == std::string::npos) return StepResult::Failure(Stage::kManifestUrl, 0);
    server = text.substr(0, slash);
    object = text.substr(slash);
    return StepResult::Success();
}

StepResult FetchManifest(const std::string &server, const std::string &object,
                         const char *localFile, BYTE *buffer, const CheckRules &rules,
                         CManifestReader *served) {
    CManifestSink sink(rules.Strict());
    HttpGetRequest request{server, object, &kManifestRequest};
    request.statusRequired = true;
    request.buffer = buffer;
    request.readSize = kManifestLimit;
    request.control = rules.control;
    const HttpGetResult answer = HttpGet(request, sink);
    if (rules.observer && answer.Answered()) {
        ManifestEvent event;
        event.status = answer.status;
        event.bytes = sink.Bytes();
        rules.observer->OnManifestEvent(event);
    }
    const Stage stage = Stage::kManifestRequest;
    const StepResult transport = TransportFailure(answer, stage);
    // A stop or a stall is not the call's own failure: no trace names it.
    if (!answer.stalled) TraceFailure(answer);
    if (!transport.Ok()) return transport;
    if (answer.failure == HttpGetResult::kSink) return RequestFailure(stage, answer.status);
    // A manifest cut off, by a reset or before its declared length, would
    // read as "nothing newer": a failed request instead. A reset mid-body
    // fails the read (10054) or, when the reset comes after the bytes were
    // taken, ends it short; both are one cut-off manifest, so the result does
    // not hang on when the reset arrived.
    if (answer.failure == HttpGetResult::kRead)
        return RequestFailure(stage, answer.error == WSAECONNRESET ? ERROR_INTERNET_CONNECTION_ABORTED
                                                                   : answer.error);
    const DWORD expected = answer.declaredLength < kManifestLimit ? answer.declaredLength
                                                                  : kManifestLimit;
    if (answer.lengthKnown && sink.Bytes() < expected)
        return RequestFailure(stage, ERROR_INTERNET_CONNECTION_ABORTED);
    // The signature is judged on the bytes as served, before anything is read
    // from them or stored.
    if (rules.keys) {
        const SignatureVerdict verdict = VerifyManifestSignature(buffer, sink.Bytes(), *rules.keys);
        if (verdict != SignatureVerdict::kValid) return StepResult::Refused(verdict);
    }

    const StepResult stored = StoreManifest(localFile, buffer, sink.Bytes());
    if (!stored.Ok()) return stored;
    // The stored copy is for people and for the other export; another check
    // may replace it at any moment. What was served is judged as it came.
    const CManifestReader snapshot = CManifestReader::Snapshot(buffer, sink.Bytes());
    if (rules.Strict() && !HasGeneralSection(snapshot))
        return StepResult::Failure(Stage::kNotAManifest, 0);
    if (rules.keys && ManifestExpired(snapshot)) return StepResult::Refused(SignatureVerdict::kExpired);
    if (served) *served = snapshot;
    return StepResult::Success();
}

}  // namespace marvostell
