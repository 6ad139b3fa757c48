#include "framework/http_get.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "framework/files.h"

namespace marvostell {

void SplitHostPort(const std::string &server, std::string &host, INTERNET_PORT &port,
                   INTERNET_PORT defaultPort) {
    host = server;
    port = defaultPort;
    const std::string::size_type colon = server.rfind(':');
    if (colon == std::string::npos || colon == 0) return;
    const std::string digits = server.substr(colon + 1);
    if (digits.empty() || digits.size() > 5 ||
        digits.find_first_not_of("0123456789") != std::string::npos)
        return;
    const unsigned long number = std::strtoul(digits.c_str(), nullptr, 10);
    if (number < 1 || number > 65535) return;
    std::string name = server.substr(0, colon);
    // "[::1]:8080": the brackets only delimit an IPv6 address.
    if (name.size() > 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    else if (name.find(':') != std::string::npos)
        return;  // a bare IPv6 address has no port
    host = name;
    port = static_cast<INTERNET_PORT>(number);
}

namespace {

using Clock = std::chrono::steady_clock;

// The request's handles, given to the call's guard while the request is open,
// so that a stop can end a blocking call.
class CGuardedRequest {
public:
    CGuardedRequest(CHttpHandles &http, const HttpControl *control)
        : m_http(http), m_pGuard(control ? control->guard : nullptr) {}
    ~CGuardedRequest() { Release(); }

    void Watch() {
        if (!m_pGuard) return;
        m_pGuard->Watch(m_http.request.Get());
        m_bWatching = true;
    }
    // A handle the guard closed is not closed again.
    void Release() {
        if (m_bWatching && m_pGuard->Unwatch()) m_http.request.Forget();
        m_bWatching = false;
    }
    StopReason Stopped() const {
        return m_pGuard ? m_pGuard->Check() : StopReason::kNone;
    }

private:
    CHttpHandles &m_http;
    CCallGuard *const m_pGuard;
    bool m_bWatching = false;
};

void SetTimeouts(HINTERNET request, DWORD milliseconds) {
    for (DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                         INTERNET_OPTION_RECEIVE_TIMEOUT})
        InternetSetOptionA(request, option, &milliseconds, sizeof milliseconds);
}

}  // namespace

HttpGetResult HttpGet(const HttpGetRequest &request, CHttpSink &sink) {
    const HttpRequestStyle &style = *request.style;
    const HttpControl *control = request.control;
    const bool secure = control && control->secure;
    HttpGetResult result;
    CHttpHandles http;
    CGuardedRequest guarded(http, control);
    Clock::time_point lastHeard = Clock::now();
    // A failed call ends the GET; a stop or a stall, when it explains the
    // failure, is reported instead of the call's own code.
    const auto fail = [&](HttpGetResult::Failure failure) {
        result.failure = failure;
        result.error = GetLastError();
        guarded.Release();
        result.stop = guarded.Stopped();
        if (result.stop != StopReason::kNone) result.failure = HttpGetResult::kStopped;
        // A time-out by its code, or by the silence before it: Wine reports a
        // request whose answer never came as aborted (12030).
        if (control && control->stallMilliseconds &&
            (result.error == ERROR_INTERNET_TIMEOUT || result.error == WSAETIMEDOUT ||
             Clock::now() - lastHeard >= std::chrono::milliseconds(control->stallMilliseconds / 10 * 9)))
            result.stalled = true;
        return result;
    };

    const char *agent = control && control->userAgent ? control->userAgent : kUserAgent;
    http.root = InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!http.root) return fail(HttpGetResult::kOpen);
    std::string host;
    INTERNET_PORT port;
    SplitHostPort(request.server, host, port,
                  secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT);
    http.connection = InternetConnectA(http.root.Get(), host.c_str(), port, nullptr, nullptr,
                                       INTERNET_SERVICE_HTTP, 0, style.connectContext);
    if (!http.connection) return fail(HttpGetResult::kConnect);
    const char *anyType[] = {"*/*", nullptr};
    const DWORD flags = style.openFlags | (secure ? INTERNET_FLAG_SECURE : 0);
    http.request = HttpOpenRequestA(http.connection.Get(), "GET", request.object.c_str(),
                                    style.httpVersion, nullptr,
                                    style.acceptAnyType ? anyType : nullptr, flags, 0);
    if (!http.request) return fail(HttpGetResult::kOpenRequest);
    if (control && control->stallMilliseconds)
        SetTimeouts(http.request.Get(), control->stallMilliseconds);
    if (request.rangeHeader)
        HttpAddRequestHeadersA(http.request.Get(), request.rangeHeader,
                               static_cast<DWORD>(std::strlen(request.rangeHeader)),
                               HTTP_ADDREQ_FLAG_ADD);
    guarded.Watch();
    if (guarded.Stopped() != StopReason::kNone) return fail(HttpGetResult::kSend);
    const DWORD headersLength =
        style.sendHeaders ? static_cast<DWORD>(std::strlen(style.sendHeaders)) : 0;
    if (!HttpSendRequestA(http.request.Get(), style.sendHeaders, headersLength, nullptr, 0))
        return fail(HttpGetResult::kSend);
    lastHeard = Clock::now();

    DWORD statusSize = sizeof result.status;
    if (!HttpQueryInfoA(http.request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                        &result.status, &statusSize, nullptr)) {
        result.status = 0;
        if (request.statusRequired) return fail(HttpGetResult::kStatus);
    }
    DWORD lengthSize = sizeof result.declaredLength;
    result.lengthKnown =
        HttpQueryInfoA(http.request.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                       &result.declaredLength, &lengthSize, nullptr) != FALSE;
    if (!sink.OnAnswer(result.status)) {
        result.failure = HttpGetResult::kSink;
        return result;
    }
    for (;;) {
        DWORD count = 0;
        if (!InternetReadFile(http.request.Get(), request.buffer, request.readSize, &count)) {
            const DWORD status = result.status;
            fail(HttpGetResult::kNone);
            result.status = status;
            result.readFailed = true;
            break;
        }
        lastHeard = Clock::now();
        result.bodyBytes += count;
        const CHttpSink::BodyVerdict verdict = sink.OnBody(request.buffer, count);
        if (verdict == CHttpSink::kFail) result.failure = HttpGetResult::kSink;
        if (verdict != CHttpSink::kMore || count == 0) break;
    }
    return result;
}

}  // namespace marvostell
