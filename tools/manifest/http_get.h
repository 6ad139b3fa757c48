// One HTTP GET through the same Internet calls the module makes (WinINet on
// Windows, the module's POSIX layer elsewhere), with the module's agent text.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/error_names.h"  // InternetErrorText for the callers

namespace marvostell::tools {

struct HttpAnswer {
    bool answered = false;  // the status line came back
    uint32_t error = 0;     // the Internet error when it did not, or when the body broke off
    uint32_t status = 0;
    uint64_t bodyBytes = 0;
};

// Requests `object` from `server` ("host" or "host:port"); `rangeStart`, when
// not negative, asks for the bytes from there on. The body goes to `onData`
// piece by piece; returning false stops reading.
HttpAnswer HttpGet(const std::string &server, const std::string &object, int64_t rangeStart,
                   const std::function<bool(const unsigned char *, uint32_t)> &onData);

}  // namespace marvostell::tools
