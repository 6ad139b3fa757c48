// One HTTP GET through the Internet calls (WinINet on Windows, the POSIX
// layer elsewhere): the manifest fetch, the package transfer and the tools
// all make their requests here.
#pragma once

#include <cstdint>
#include <string>

#include "http/call_guard.h"
#include "platform/win32.h"

namespace marvostell {

// The agent text of every request.
inline constexpr char kUserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

// Splits "host:port" for the connection; without a port, or with one that is
// not a number from 1 to 65535, the whole text is the host and the port is
// `defaultPort`.
void SplitHostPort(const std::string &server, std::string &host, INTERNET_PORT &port,
                   INTERNET_PORT defaultPort = INTERNET_DEFAULT_HTTP_PORT);

// What a controllable call adds to its requests.
struct HttpControl {
    CCallGuard *guard = nullptr;    // may stop the request
    DWORD stallMilliseconds = 0;    // a request that receives nothing this long fails
    const char *userAgent = nullptr;  // null: kUserAgent
    // TLS with the platform's certificate checks, port 443; its redirects
    // are followed by HttpGet, to TLS only (a plain one fails with 12040).
    bool secure = false;
};

// How a request looks on the wire; each caller keeps its own.
struct HttpRequestStyle {
    const char *httpVersion;   // null: WinINet's default
    bool acceptAnyType;        // send "Accept: */*"
    DWORD openFlags;           // HttpOpenRequestA's flags
    DWORD connectContext;      // InternetConnectA's context value
    const char *sendHeaders;   // given to HttpSendRequestA, or null
};

// Receives the answer of a request. Each call may end the transfer: false
// from OnAnswer or kStop/kFail from OnBody stops reading; kFail also makes
// the GET a failure of the sink (HttpGetResult::kSink).
class CHttpSink {
public:
    enum BodyVerdict { kMore, kStop, kFail };
    virtual ~CHttpSink() = default;
    // After the request was sent; status is 0 when it could not be read.
    virtual bool OnAnswer(DWORD status) = 0;
    virtual BodyVerdict OnBody(const BYTE *data, DWORD count) = 0;
};

struct HttpGetResult {
    // The step that failed, if one did: a call, the sink, a read of the body
    // (what came before it went to the sink), or a stop.
    enum Failure { kNone, kOpen, kConnect, kOpenRequest, kSend, kStatus, kSink, kRead, kStopped };
    Failure failure = kNone;
    DWORD error = 0;        // GetLastError() of the failed call or read
    DWORD status = 0;       // the HTTP status, once sent
    bool lengthKnown = false;  // the answer declared its body's length:
    DWORD declaredLength = 0;
    bool stalled = false;     // the failed call had received nothing for the stall limit
    StopReason stop = StopReason::kNone;  // kStopped: why
    uint64_t bodyBytes = 0;

    // The status line came back (the body may still have broken off).
    bool Answered() const { return failure == kNone || failure == kSink || failure == kRead; }
};

struct HttpGetRequest {
    std::string server;  // "host" or "host:port"
    std::string object;  // the path, from "/"
    const HttpRequestStyle *style = nullptr;
    const char *rangeHeader = nullptr;  // e.g. "Range:bytes=10-", added before sending
    bool statusRequired = false;        // a status that cannot be read fails the GET
    BYTE *buffer = nullptr;             // where each read lands
    DWORD readSize = 0;                 // bytes each read gives the sink, fewer only at the end
    const HttpControl *control = nullptr;  // null: the plain request of CheckNewVersion
};

// Opens, connects, sends, then reads until the body ends, a read fails or
// the sink stops it. With a control, each read is made of what has arrived,
// with the guard and the deadline looked at between pieces and before each
// wait; the bytes that came before a failure or a stop still reach the sink.
// The handles are closed, request first, before it returns.
HttpGetResult HttpGet(const HttpGetRequest &request, CHttpSink &sink);

}  // namespace marvostell
