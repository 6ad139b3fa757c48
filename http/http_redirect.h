// Where a redirect leads. A request over TLS follows its redirects itself
// (INTERNET_FLAG_NO_AUTO_REDIRECT) instead of leaving them to the platform's
// library, which may follow one to plain HTTP (Wine's WinINet does): so no
// request of it ever goes out in plain text.
#pragma once

#include <string>

#include "platform/win32.h"

namespace marvostell {

// One hop of a request.
struct HttpTarget {
    std::string host;  // as InternetConnectA takes it
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
    std::string object;  // from "/"
    bool secure = false;
};

enum class LocationVerdict {
    kFollow,    // `next` is where the redirect leads, over TLS
    kToPlain,   // it leads to plain HTTP
    kUnusable,  // no place this module can go: another scheme, credentials, no host
};

// Resolves a Location value (a URL, "//host/path", "/path" or a path relative
// to `from`'s) against the TLS request that received it.
LocationVerdict ResolveLocation(const HttpTarget &from, const std::string &location,
                                HttpTarget &next);

// 301, 302, 303, 307 and 308: the answers WinINet follows for a GET.
bool IsRedirectStatus(DWORD status);

}  // namespace marvostell
