#include "framework/http_get.h"

#include <cstdlib>
#include <cstring>

#include "framework/files.h"

namespace marvostell {

void SplitHostPort(const std::string &server, std::string &host, INTERNET_PORT &port) {
    host = server;
    port = INTERNET_DEFAULT_HTTP_PORT;
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

HttpGetResult Failed(HttpGetResult::Failure failure) {
    HttpGetResult result;
    result.failure = failure;
    result.error = GetLastError();
    return result;
}

}  // namespace

HttpGetResult HttpGet(const HttpGetRequest &request, CHttpSink &sink) {
    const HttpRequestStyle &style = *request.style;
    CHttpHandles http;
    http.root = InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    if (!http.root) return Failed(HttpGetResult::kOpen);
    std::string host;
    INTERNET_PORT port;
    SplitHostPort(request.server, host, port);
    http.connection = InternetConnectA(http.root.Get(), host.c_str(), port, nullptr, nullptr,
                                       INTERNET_SERVICE_HTTP, 0, style.connectContext);
    if (!http.connection) return Failed(HttpGetResult::kConnect);
    const char *anyType[] = {"*/*", nullptr};
    http.request = HttpOpenRequestA(http.connection.Get(), "GET", request.object.c_str(),
                                    style.httpVersion, nullptr,
                                    style.acceptAnyType ? anyType : nullptr, style.openFlags, 0);
    if (!http.request) return Failed(HttpGetResult::kOpenRequest);
    if (request.rangeHeader)
        HttpAddRequestHeadersA(http.request.Get(), request.rangeHeader,
                               static_cast<DWORD>(std::strlen(request.rangeHeader)),
                               HTTP_ADDREQ_FLAG_ADD);
    const DWORD headersLength =
        style.sendHeaders ? static_cast<DWORD>(std::strlen(style.sendHeaders)) : 0;
    if (!HttpSendRequestA(http.request.Get(), style.sendHeaders, headersLength, nullptr, 0))
        return Failed(HttpGetResult::kSend);

    HttpGetResult result;
    DWORD statusSize = sizeof result.status;
    if (!HttpQueryInfoA(http.request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER,
                        &result.status, &statusSize, nullptr)) {
        result.status = 0;
        if (request.statusRequired) return Failed(HttpGetResult::kStatus);
    }
    if (!sink.OnAnswer(result.status)) {
        result.failure = HttpGetResult::kSink;
        return result;
    }
    for (;;) {
        DWORD count = 0;
        if (!InternetReadFile(http.request.Get(), request.buffer, request.readSize, &count)) {
            result.readFailed = true;
            result.error = GetLastError();
            break;
        }
        result.bodyBytes += count;
        const CHttpSink::BodyVerdict verdict = sink.OnBody(request.buffer, count);
        if (verdict == CHttpSink::kFail) result.failure = HttpGetResult::kSink;
        if (verdict != CHttpSink::kMore || count == 0) break;
    }
    return result;
}

}  // namespace marvostell
