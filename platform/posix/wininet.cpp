// The WinINet subset the module calls, on libcurl: the handles, the API and
// WinINet's error numbers.
//
// A root handle holds the agent text, a connection handle the server name and
// port (nothing connects yet), a request handle its object, flags, accept
// types and added header lines, and from HttpSendRequestA on a transfer
// (http_transfer.h). HttpSendRequestA drives the transfer until the final
// response's headers are in; InternetReadFile drives it until the caller's
// buffer can be filled or the body has ended. What goes on the wire is what
// WinINet sends (http_request_lines.h).
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include <curl/curl.h>
#include <strings.h>

#include "handles.h"
#include "http_request_lines.h"
#include "http_transfer.h"
#include "win32_posix.h"

using marvostell::posix::ParseHeaderLines;
using marvostell::posix::RequestHeaders;
using marvostell::posix::Target;
using marvostell::posix::Timeouts;
using marvostell::posix::Transfer;
using marvostell::posix::ValidHostName;

namespace {

std::once_flag g_curlInit;
bool g_curlReady = false;

bool InitCurl() {
    std::call_once(g_curlInit, [] { g_curlReady = curl_global_init(CURL_GLOBAL_DEFAULT) == 0; });
    return g_curlReady;
}

// The kinds of Internet handle; one passed where another is wanted fails
// with ERROR_INTERNET_INCORRECT_HANDLE_TYPE.
enum class Kind { Root, Connection, Request };

struct Handle : marvostell::posix::HandleObject {
    static constexpr auto kKind = marvostell::posix::HandleKind::Internet;
    explicit Handle(Kind k) : HandleObject(kKind), kind(k) {}
    const Kind kind;
    Timeouts timeouts;  // passed on to the handles opened from this one
};

struct Root : Handle {
    Root() : Handle(Kind::Root) {}
    std::string agent;
};

struct Connection : Handle {
    Connection() : Handle(Kind::Connection) {}
    std::string agent;  // a copy: the root may be closed first
    std::string host;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
};

// A request closed by another thread while a call blocks on it: the close
// aborts the transfer, which ends the call, and the object (shared by the
// call's look-up) lives until the call has returned.
struct Request : Handle {
    Request() : Handle(Kind::Request) {}
    Target target;
    DWORD flags = 0;
    RequestHeaders headers;
    Transfer transfer;  // its destructor aborts a transfer under way
};

template <class T>
HINTERNET Register(std::unique_ptr<T> h) {
    return marvostell::posix::RegisterHandle(std::move(h));
}

// The live Internet handle of the wanted kind, or null with the last error set.
template <class T>
std::shared_ptr<T> Find(HINTERNET handle, Kind kind) {
    std::shared_ptr<Handle> h = marvostell::posix::LookUp<Handle>(handle);
    if (h == nullptr) return nullptr;
    if (h->kind != kind) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    return std::static_pointer_cast<T>(h);
}

bool Invalid() {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
}

// WinINet's number for a certificate that did not verify, as Windows tells
// them apart. OpenSSL's chain verdicts (X509_V_ERR_*) mark an issuer or date
// fault; a chain that passed (libcurl leaves 0 or its 1 placeholder) failed
// on the host name, which libcurl checks after the handshake.
DWORD CertificateError(const Transfer &t) {
    constexpr long kNotYetValid = 9;  // X509_V_ERR_CERT_NOT_YET_VALID
    constexpr long kExpired = 10;     // X509_V_ERR_CERT_HAS_EXPIRED
    const long verdict = t.VerifyResult();
    if (verdict == kNotYetValid || verdict == kExpired) return ERROR_INTERNET_SEC_CERT_DATE_INVALID;
    if (verdict == 0 || verdict == 1) return ERROR_INTERNET_SEC_CERT_CN_INVALID;
    return ERROR_INTERNET_INVALID_CA;
}

// WinINet's number for a transfer that failed before the response headers.
DWORD SendError(const Transfer &t) {
    if (t.refusal != ERROR_SUCCESS) return t.refusal;
    switch (t.result) {
    case CURLE_COULDNT_CONNECT: return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_OPERATION_TIMEDOUT: return ERROR_INTERNET_TIMEOUT;
    case CURLE_RECV_ERROR:
        // Headers past libcurl's total limit are an answer that cannot be used.
        if (std::strncmp(t.errorText, "Too large response headers", 26) == 0)
            return ERROR_HTTP_INVALID_SERVER_RESPONSE;
        return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_SEND_ERROR: return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY: return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_TOO_MANY_REDIRECTS: return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_URL_MALFORMAT:
        return t.redirected ? ERROR_HTTP_REDIRECT_FAILED : ERROR_INTERNET_INVALID_URL;
    case CURLE_UNSUPPORTED_PROTOCOL:  // a redirect elsewhere, or an HTTP/0.9 answer
        return t.redirected ? ERROR_HTTP_REDIRECT_FAILED : ERROR_HTTP_INVALID_SERVER_RESPONSE;
#if LIBCURL_VERSION_NUM >= 0x080600
    case CURLE_TOO_LARGE: return ERROR_HTTP_INVALID_SERVER_RESPONSE;
#endif
    case CURLE_OUT_OF_MEMORY:
        // libcurl gives this code for a header line longer than it will hold
        // (100 KiB): once the request is out, it is the server's answer that
        // cannot be used, not this process that ran out of memory.
        return t.RequestSent() ? ERROR_HTTP_INVALID_SERVER_RESPONSE : ERROR_NOT_ENOUGH_MEMORY;
    case CURLE_SSL_CONNECT_ERROR: return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    case CURLE_PEER_FAILED_VERIFICATION: return CertificateError(t);
    default: return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

// The end of a body with nothing left to read: TRUE after a clean end (or a
// body shorter than declared, which WinINet ends silently), else FALSE with
// the error of the failed transfer.
BOOL BodyEnded(const Transfer &t) {
    switch (t.result) {
    case CURLE_OK:
    case CURLE_PARTIAL_FILE:
        return TRUE;
    case CURLE_RECV_ERROR:
        SetLastError(WSAECONNRESET);
        return FALSE;
    default:
        SetLastError(SendError(t));
        return FALSE;
    }
}

// A header's text as WinINet gives it: without a terminator in the length on
// success; the length with its terminator, and ERROR_INSUFFICIENT_BUFFER,
// when it does not fit.
BOOL QueryText(const Transfer &t, LPVOID buffer, LPDWORD bufferLength, LPDWORD index) {
    if (bufferLength == nullptr) return Invalid();
    if ((index != nullptr && *index != 0) || !t.hasLocation) {
        SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
        return FALSE;
    }
    const std::string &text = t.location;
    if (buffer == nullptr || *bufferLength < text.size() + 1) {
        *bufferLength = static_cast<DWORD>(text.size() + 1);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    *bufferLength = static_cast<DWORD>(text.size());
    if (index != nullptr) *index = 1;
    return TRUE;
}

}  // namespace

HINTERNET InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR, DWORD) {
    if (accessType != INTERNET_OPEN_TYPE_PRECONFIG || proxy != nullptr) {
        Invalid();
        return nullptr;
    }
    if (!InitCurl()) {
        SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
        return nullptr;
    }
    std::unique_ptr<Root> root(new (std::nothrow) Root);
    if (root == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    if (agent != nullptr) root->agent = agent;
    return Register(std::move(root));
}

HINTERNET InternetConnectA(HINTERNET internet, LPCSTR serverName, INTERNET_PORT serverPort,
                           LPCSTR, LPCSTR, DWORD service, DWORD, uintptr_t) {
    const auto root = Find<Root>(internet, Kind::Root);
    if (root == nullptr) return nullptr;
    if (serverName == nullptr || *serverName == '\0' || service != INTERNET_SERVICE_HTTP) {
        Invalid();
        return nullptr;
    }
    std::unique_ptr<Connection> c(new (std::nothrow) Connection);
    if (c == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    c->agent = root->agent;
    c->timeouts = root->timeouts;
    c->host = serverName;
    c->port = serverPort == 0 ? INTERNET_DEFAULT_HTTP_PORT : serverPort;
    return Register(std::move(c));
}

HINTERNET HttpOpenRequestA(HINTERNET connect, LPCSTR verb, LPCSTR objectName, LPCSTR version,
                           LPCSTR referrer, LPCSTR *acceptTypes, DWORD flags, uintptr_t) {
    const auto c = Find<Connection>(connect, Kind::Connection);
    if (c == nullptr) return nullptr;
    if (verb == nullptr || std::strcmp(verb, "GET") != 0 ||
        (version != nullptr && strcasecmp(version, "HTTP/1.1") != 0) ||
        (referrer != nullptr && *referrer != '\0')) {
        Invalid();
        return nullptr;
    }
    std::unique_ptr<Request> r(new (std::nothrow) Request);
    if (r == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    r->target.host = c->host;
    r->target.port = c->port;
    r->target.object = objectName != nullptr && *objectName != '\0' ? objectName : "/";
    r->target.secure = (flags & INTERNET_FLAG_SECURE) != 0;
    r->flags = flags;
    r->timeouts = c->timeouts;
    r->headers.agent = c->agent;
    for (LPCSTR *t = acceptTypes; t != nullptr && *t != nullptr; ++t) {
        if (**t == '\0') continue;
        if (!r->headers.accept.empty()) r->headers.accept += ", ";
        r->headers.accept += *t;
    }
    return Register(std::move(r));
}

BOOL HttpAddRequestHeadersA(HINTERNET request, LPCSTR headers, DWORD headersLength,
                            DWORD modifiers) {
    const auto r = Find<Request>(request, Kind::Request);
    if (r == nullptr) return FALSE;
    if (headers == nullptr || modifiers != HTTP_ADDREQ_FLAG_ADD) return Invalid();
    std::vector<std::string> lines;
    if (!ParseHeaderLines(headers, headersLength, &lines)) {
        SetLastError(ERROR_HTTP_INVALID_HEADER);
        return FALSE;
    }
    if (lines.empty()) return Invalid();
    // A line with an empty value adds nothing.
    for (const std::string &line : lines)
        if (line.back() != ' ') r->headers.added.push_back(line);
    return TRUE;
}

BOOL HttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID optional,
                      DWORD optionalLength) {
    const auto r = Find<Request>(request, Kind::Request);
    if (r == nullptr) return FALSE;
    if (optional != nullptr || optionalLength != 0) return Invalid();
    r->headers.sent.clear();
    if (headers != nullptr && headersLength != 0 &&
        !ParseHeaderLines(headers, headersLength, &r->headers.sent)) {
        SetLastError(ERROR_HTTP_INVALID_HEADER);
        return FALSE;
    }
    Transfer &t = r->transfer;
    t.End();
    if (!ValidHostName(r->target.host)) {
        SetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
        return FALSE;
    }
    if (!t.Start(r->target, r->headers, r->flags, r->timeouts)) {
        t.End();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    t.Pump([&t] { return t.headersDone; });
    if (t.headersDone) return TRUE;
    const DWORD error = SendError(t);
    t.End();
    SetLastError(error);
    return FALSE;
}

BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength,
                    LPDWORD index) {
    const auto r = Find<Request>(request, Kind::Request);  // shared: a close may come meanwhile
    if (r == nullptr) return FALSE;
    if (!r->transfer.headersDone) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return FALSE;
    }
    if (infoLevel == HTTP_QUERY_LOCATION) return QueryText(r->transfer, buffer, bufferLength, index);
    if (infoLevel != (HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER) &&
        infoLevel != (HTTP_QUERY_CONTENT_LENGTH | HTTP_QUERY_FLAG_NUMBER))
        return Invalid();
    const bool length = (infoLevel & ~HTTP_QUERY_FLAG_NUMBER) == HTTP_QUERY_CONTENT_LENGTH;
    curl_off_t declared = -1;
    if (length) curl_easy_getinfo(r->transfer.Easy(), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &declared);
    if ((index != nullptr && *index != 0) || (length && (declared < 0 || declared > 0xFFFFFFFF))) {
        SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
        return FALSE;
    }
    if (bufferLength == nullptr) return Invalid();
    if (*bufferLength < sizeof(DWORD) || buffer == nullptr) {
        *bufferLength = sizeof(DWORD);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const DWORD value = static_cast<DWORD>(length ? declared : r->transfer.status);
    std::memcpy(buffer, &value, sizeof value);
    *bufferLength = sizeof(DWORD);
    if (index != nullptr) *index = 1;
    return TRUE;
}

BOOL InternetQueryDataAvailable(HINTERNET file, LPDWORD available, DWORD flags,
                                DWORD_PTR context) {
    if (available != nullptr) *available = 0;
    const auto r = Find<Request>(file, Kind::Request);
    if (r == nullptr) return FALSE;
    if (available == nullptr || flags != 0 || context != 0) return Invalid();
    Transfer &t = r->transfer;
    if (!t.headersDone) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return FALSE;
    }
    // Waits for the first byte, as a read of any size would.
    t.want = 1;
    t.Pump([&t] { return t.Available() > 0; });
    t.want = 0;
    if (t.refusal == ERROR_INTERNET_OPERATION_CANCELLED) {
        SetLastError(t.refusal);
        return FALSE;
    }
    *available = static_cast<DWORD>(std::min<size_t>(t.Available(), 0xFFFFFFFFu));
    return *available > 0 || BodyEnded(t);
}

BOOL InternetReadFile(HINTERNET file, LPVOID buffer, DWORD toRead, LPDWORD read) {
    if (read != nullptr) *read = 0;
    const auto r = Find<Request>(file, Kind::Request);
    if (r == nullptr) return FALSE;
    if (read == nullptr || (buffer == nullptr && toRead != 0)) return Invalid();
    Transfer &t = r->transfer;
    if (!t.headersDone) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return FALSE;
    }
    if (toRead == 0) return TRUE;
    t.want = toRead;
    t.Pump([&t, toRead] { return t.Available() >= toRead; });
    t.want = 0;
    if (t.refusal == ERROR_INTERNET_OPERATION_CANCELLED) {
        SetLastError(t.refusal);
        return FALSE;
    }
    *read = static_cast<DWORD>(t.Take(buffer, toRead));
    return *read > 0 || BodyEnded(t);
}

BOOL InternetCloseHandle(HINTERNET handle) {
    const std::shared_ptr<marvostell::posix::HandleObject> object =
        marvostell::posix::UnregisterHandle(handle, Handle::kKind);
    if (object == nullptr) return FALSE;
    // A call blocked on the request returns now; the object goes with the
    // last reference, here or when that call returns.
    const Handle &h = static_cast<const Handle &>(*object);
    if (h.kind == Kind::Request) static_cast<Request &>(*object).transfer.Abort();
    return TRUE;
}

BOOL InternetSetOptionA(HINTERNET handle, DWORD option, LPVOID buffer, DWORD bufferLength) {
    const auto h = marvostell::posix::LookUp<Handle>(handle);
    if (h == nullptr) return FALSE;
    if (option != INTERNET_OPTION_CONNECT_TIMEOUT && option != INTERNET_OPTION_SEND_TIMEOUT &&
        option != INTERNET_OPTION_RECEIVE_TIMEOUT) {
        SetLastError(ERROR_INTERNET_INVALID_OPTION);
        return FALSE;
    }
    if (buffer == nullptr || bufferLength < sizeof(DWORD)) return Invalid();
    DWORD milliseconds = 0;
    std::memcpy(&milliseconds, buffer, sizeof milliseconds);
    if (option == INTERNET_OPTION_CONNECT_TIMEOUT) {
        h->timeouts.connectMilliseconds = static_cast<long>(milliseconds);
    } else if (option == INTERNET_OPTION_RECEIVE_TIMEOUT) {
        h->timeouts.stallMilliseconds = static_cast<long>(milliseconds);
        // A request that was sent waits by the new limit from its next wait on.
        if (h->kind == Kind::Request)
            static_cast<Request &>(*h).transfer.SetStallLimit(h->timeouts.stallMilliseconds);
    }
    return TRUE;
}
