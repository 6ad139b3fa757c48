#include "http_get.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "entry/update_client.h"
#include "framework/files.h"

namespace marvostell::tools {
namespace {

constexpr DWORD kReadSize = 32768;

#ifdef _WIN32
// Never an answer from the cache: the server itself is being checked.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
#else
constexpr DWORD kRequestFlags = INTERNET_FLAG_NO_CACHE_WRITE;
#endif

}  // namespace

HttpAnswer HttpGet(const std::string &server, const std::string &object, int64_t rangeStart,
                   const std::function<bool(const unsigned char *, uint32_t)> &onData) {
    HttpAnswer answer;
    CHttpHandles http;
    http.root = InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!http.root) {
        answer.error = GetLastError();
        return answer;
    }
    std::string host;
    INTERNET_PORT port;
    SplitHostPort(server, host, port);
    http.connection = InternetConnectA(http.root.Get(), host.c_str(), port, nullptr, nullptr,
                                       INTERNET_SERVICE_HTTP, 0, 0);
    if (!http.connection) {
        answer.error = GetLastError();
        return answer;
    }
    const char *acceptTypes[] = {"*/*", nullptr};
    http.request = HttpOpenRequestA(http.connection.Get(), "GET", object.c_str(), nullptr, nullptr,
                                    acceptTypes, kRequestFlags, 0);
    if (!http.request) {
        answer.error = GetLastError();
        return answer;
    }
    if (rangeStart >= 0) {
        char range[48];
        std::snprintf(range, sizeof range, "Range:bytes=%lld-", static_cast<long long>(rangeStart));
        HttpAddRequestHeadersA(http.request.Get(), range, static_cast<DWORD>(std::strlen(range)),
                               HTTP_ADDREQ_FLAG_ADD);
    }
    if (!HttpSendRequestA(http.request.Get(), nullptr, 0, nullptr, 0)) {
        answer.error = GetLastError();
        return answer;
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!HttpQueryInfoA(http.request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                        &status, &size, nullptr)) {
        answer.error = GetLastError();
        return answer;
    }
    answer.answered = true;
    answer.status = status;
    std::vector<unsigned char> buffer(kReadSize);
    for (;;) {
        DWORD count = 0;
        if (!InternetReadFile(http.request.Get(), buffer.data(), kReadSize, &count)) {
            answer.error = GetLastError();
            break;
        }
        if (count == 0) break;
        answer.bodyBytes += count;
        if (!onData(buffer.data(), count)) break;
    }
    return answer;
}

}  // namespace marvostell::tools
