#include "http/http_get.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "framework/files.h"
#include "http/http_redirect.h"

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

// Redirects a TLS request follows before it gives up (ERROR_HTTP_REDIRECT_FAILED).
constexpr int kMaxRedirects = 5;
// A wait bounded by the deadline ends this long after it, so that the guard
// has seen the deadline pass and the stop, not the time-out, is reported.
constexpr uint64_t kPastDeadlineMilliseconds = 100;

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

void SetTimeout(HINTERNET request, DWORD option, DWORD milliseconds) {
    InternetSetOptionA(request, option, &milliseconds, sizeof milliseconds);
}

// The Location line of an answer, when it has one.
bool QueryLocation(HINTERNET request, std::string &location) {
    std::string text(1024, '\0');
    DWORD size = static_cast<DWORD>(text.size());
    if (!HttpQueryInfoA(request, HTTP_QUERY_LOCATION, &text[0], &size, nullptr)) {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return false;
        text.assign(size, '\0');
        if (!HttpQueryInfoA(request, HTTP_QUERY_LOCATION, &text[0], &size, nullptr)) return false;
    }
    location = text.substr(0, size);
    return true;
}

// One GET, hop by hop, and its body, read by the request's rules.
class CHttpGet {
public:
    CHttpGet(const HttpGetRequest &request, CHttpSink &sink)
        : m_request(request), m_sink(sink), m_control(request.control),
          m_bSecure(m_control && m_control->secure), m_guarded(m_http, m_control) {}
    HttpGetResult Run();

private:
    HttpGetResult Fail(HttpGetResult::Failure failure);
    bool Send(const HttpTarget &target);
    bool ReadStatus();
    bool Read(DWORD &count);
    void ReadBody();
    DWORD WaitLimit() const;

    const HttpGetRequest &m_request;
    CHttpSink &m_sink;
    const HttpControl *const m_control;
    const bool m_bSecure;
    HttpGetResult m_result;
    CHttpHandles m_http;
    CGuardedRequest m_guarded;
    Clock::time_point m_lastHeard = Clock::now();
};

// A failed call ends the GET; a stop or a stall, when it explains the
// failure, is reported instead of the call's own code.
HttpGetResult CHttpGet::Fail(HttpGetResult::Failure failure) {
    m_result.failure = failure;
    m_result.error = GetLastError();
    m_guarded.Release();
    m_result.stop = m_guarded.Stopped();
    if (m_result.stop != StopReason::kNone) m_result.failure = HttpGetResult::kStopped;
    // A time-out by its code, or by the silence before it: Wine reports a
    // request whose answer never came as aborted (12030).
    const DWORD stall = m_control ? m_control->stallMilliseconds : 0;
    if (stall && (m_result.error == ERROR_INTERNET_TIMEOUT || m_result.error == WSAETIMEDOUT ||
                  Clock::now() - m_lastHeard >= std::chrono::milliseconds(stall / 10 * 9)))
        m_result.stalled = true;
    return m_result;
}

// The receive time-out of the next wait: the stall limit, or less when the
// deadline comes first. Windows ends a wait when the guard closes its
// handle; Wine does not, and ends it only by a time-out (the one set before
// the request was sent: Wine applies no later change). 0: none.
DWORD CHttpGet::WaitLimit() const {
    uint64_t limit = m_control->stallMilliseconds;
    const uint64_t none = ~uint64_t{0};
    const uint64_t left = m_control->guard ? m_control->guard->MillisecondsLeft(none) : none;
    if (left != none && (limit == 0 || left + kPastDeadlineMilliseconds < limit))
        limit = left + kPastDeadlineMilliseconds;
    return static_cast<DWORD>(std::min<uint64_t>(limit, 0xFFFFFFFFu));
}

// Connects to the target and sends the request there; false once the GET
// has failed.
bool CHttpGet::Send(const HttpTarget &target) {
    const HttpRequestStyle &style = *m_request.style;
    m_guarded.Release();
    m_http.request.Close();
    m_http.connection.Close();
    m_http.connection = InternetConnectA(m_http.root.Get(), target.host.c_str(), target.port,
                                         nullptr, nullptr, INTERNET_SERVICE_HTTP, 0,
                                         style.connectContext);
    if (!m_http.connection) return Fail(HttpGetResult::kConnect), false;
    const char *anyType[] = {"*/*", nullptr};
    const DWORD flags =
        style.openFlags | (target.secure ? INTERNET_FLAG_SECURE | INTERNET_FLAG_NO_AUTO_REDIRECT : 0);
    m_http.request = HttpOpenRequestA(m_http.connection.Get(), "GET", target.object.c_str(),
                                      style.httpVersion, nullptr,
                                      style.acceptAnyType ? anyType : nullptr, flags, 0);
    if (!m_http.request) return Fail(HttpGetResult::kOpenRequest), false;
    const HINTERNET request = m_http.request.Get();
    if (m_control && m_control->stallMilliseconds) {
        SetTimeout(request, INTERNET_OPTION_CONNECT_TIMEOUT, m_control->stallMilliseconds);
        SetTimeout(request, INTERNET_OPTION_SEND_TIMEOUT, m_control->stallMilliseconds);
    }
    if (m_control) {
        if (const DWORD limit = WaitLimit()) SetTimeout(request, INTERNET_OPTION_RECEIVE_TIMEOUT, limit);
    }
    if (m_request.rangeHeader)
        HttpAddRequestHeadersA(request, m_request.rangeHeader,
                               static_cast<DWORD>(std::strlen(m_request.rangeHeader)),
                               HTTP_ADDREQ_FLAG_ADD);
    m_guarded.Watch();
    if (m_guarded.Stopped() != StopReason::kNone) return Fail(HttpGetResult::kSend), false;
    const DWORD headersLength =
        style.sendHeaders ? static_cast<DWORD>(std::strlen(style.sendHeaders)) : 0;
    if (!HttpSendRequestA(request, style.sendHeaders, headersLength, nullptr, 0))
        return Fail(HttpGetResult::kSend), false;
    m_lastHeard = Clock::now();
    return true;
}

bool CHttpGet::ReadStatus() {
    DWORD statusSize = sizeof m_result.status;
    if (HttpQueryInfoA(m_http.request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                       &m_result.status, &statusSize, nullptr))
        return true;
    m_result.status = 0;
    return !m_request.statusRequired || (Fail(HttpGetResult::kStatus), false);
}

// One read as the sink sees it: readSize bytes, fewer only at the end of the
// body. A plain request asks InternetReadFile for all of them at once, which
// waits until they have come. A controlled one reads what has arrived, piece
// by piece, so that each wait ends with the first bytes and a stop is seen
// between pieces. False when a call failed or the GET was stopped; count
// then holds the bytes that came before.
bool CHttpGet::Read(DWORD &count) {
    const HINTERNET request = m_http.request.Get();
    count = 0;
    if (!m_control) {
        if (InternetReadFile(request, m_request.buffer, m_request.readSize, &count)) return true;
        count = 0;
        return false;
    }
    while (count < m_request.readSize) {
        if (m_guarded.Stopped() != StopReason::kNone) return false;
        if (const DWORD limit = WaitLimit()) SetTimeout(request, INTERNET_OPTION_RECEIVE_TIMEOUT, limit);
        DWORD available = 0;
        if (!InternetQueryDataAvailable(request, &available, 0, 0)) return false;
        DWORD piece = 0;
        if (available == 0) return true;
        if (!InternetReadFile(request, m_request.buffer + count,
                              std::min(available, m_request.readSize - count), &piece))
            return false;
        if (piece == 0) return true;
        count += piece;
        m_lastHeard = Clock::now();
    }
    return true;
}

// Reads until the body ends, a read fails, a stop comes or the sink stops
// it. Bytes that came before a failure or a stop still go to the sink, after
// the failure is recorded.
void CHttpGet::ReadBody() {
    for (;;) {
        DWORD count = 0;
        const bool read = Read(count);
        if (!read) Fail(HttpGetResult::kRead);
        if (read || count > 0) {
            m_lastHeard = Clock::now();
            m_result.bodyBytes += count;
            const CHttpSink::BodyVerdict verdict = m_sink.OnBody(m_request.buffer, count);
            if (verdict == CHttpSink::kFail && m_result.failure != HttpGetResult::kStopped)
                m_result.failure = HttpGetResult::kSink;
            if (verdict != CHttpSink::kMore) return;
        }
        if (!read || count == 0) return;
    }
}

HttpGetResult CHttpGet::Run() {
    const char *agent = m_control && m_control->userAgent ? m_control->userAgent : kUserAgent;
    m_http.root = InternetOpenA(agent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!m_http.root) return Fail(HttpGetResult::kOpen);
    HttpTarget target;
    SplitHostPort(m_request.server, target.host, target.port,
                  m_bSecure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT);
    target.object = m_request.object;
    target.secure = m_bSecure;
    for (int hops = 0;; ++hops) {
        if (!Send(target) || !ReadStatus()) return m_result;
        std::string location;
        if (!m_bSecure || !IsRedirectStatus(m_result.status) ||
            !QueryLocation(m_http.request.Get(), location))
            break;  // the answer (a redirect without a place to go is one too)
        HttpTarget next;
        const LocationVerdict verdict = ResolveLocation(target, location, next);
        if (verdict != LocationVerdict::kFollow || hops == kMaxRedirects) {
            SetLastError(verdict == LocationVerdict::kToPlain ? ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR
                                                              : ERROR_HTTP_REDIRECT_FAILED);
            return Fail(HttpGetResult::kSend);
        }
        target = next;
    }
    DWORD lengthSize = sizeof m_result.declaredLength;
    m_result.lengthKnown =
        HttpQueryInfoA(m_http.request.Get(), HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER,
                       &m_result.declaredLength, &lengthSize, nullptr) != FALSE;
    if (!m_sink.OnAnswer(m_result.status)) {
        m_result.failure = HttpGetResult::kSink;
        return m_result;
    }
    ReadBody();
    return m_result;
}

}  // namespace

HttpGetResult HttpGet(const HttpGetRequest &request, CHttpSink &sink) {
    CHttpGet get(request, sink);
    return get.Run();
}

}  // namespace marvostell
