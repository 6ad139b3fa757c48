// The manifest URL split, the host:port split, a redirect's Location and the
// manifest number rule on any text. The number rule is compared with the C library's strtoull
// read the way a 32-bit strtoul with base 0 reads; the splits are checked
// for what their results must satisfy.
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <string>

#include "http/http_get.h"
#include "http/http_redirect.h"
#include "manifest/manifest_fetch.h"
#include "manifest/number.h"

namespace {

// A 32-bit strtoul with base 0, from the C library's 64-bit reader.
uint32_t Reference(const char *text, const char **stop) {
    const char *p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    // strtoull would take blanks or a second sign here; strtoul's grammar
    // takes digits only.
    if (!std::isdigit(static_cast<unsigned char>(*p))) {
        *stop = text;
        return 0;
    }
    char *end = nullptr;
    errno = 0;
    const unsigned long long magnitude = std::strtoull(p, &end, 0);
    *stop = end;
    if (errno == ERANGE || magnitude > 0xFFFFFFFFull) return 0xFFFFFFFFu;
    const uint32_t value = static_cast<uint32_t>(magnitude);
    return negative ? 0u - value : value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // Text ends at the first NUL, as it would in a manifest value or a URL.
    const std::string text(reinterpret_cast<const char *>(data), size);
    const char *start = text.c_str();

    const char *stop = nullptr;
    const char *expectedStop = nullptr;
    const uint32_t number = marvostell::ParseManifestNumber(start, &stop);
    if (number != Reference(start, &expectedStop) || stop != expectedStop) std::abort();

    std::string server, object;
    const marvostell::StepResult split = marvostell::ParseServerUrl(start, server, object);
    if (split.Ok()) {
        // The server is the part before the first "/", the object the rest.
        if (object.empty() || object[0] != '/' || server.find('/') != std::string::npos)
            std::abort();
        if (std::string(start).find(server + object) == std::string::npos) std::abort();
    } else if (split.stage != marvostell::Stage::kManifestUrl) {
        std::abort();
    }

    std::string host;
    INTERNET_PORT port = 0;
    marvostell::SplitHostPort(start, host, port);
    if (port == 0) std::abort();
    if (host != start) {
        // A port was split off: the text ends with ":" and that number.
        const std::string whole = start;
        const std::string digits = whole.substr(whole.rfind(':') + 1);
        if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos ||
            std::strtoul(digits.c_str(), nullptr, 10) != port || host.empty())
            std::abort();
    } else if (port != 80) {
        std::abort();
    }

    // A redirect is followed only over TLS, to a host, with an object from "/".
    const marvostell::HttpTarget from{"update.example", 443, "/dir/update.ini", true};
    marvostell::HttpTarget next;
    if (marvostell::ResolveLocation(from, start, next) == marvostell::LocationVerdict::kFollow &&
        (!next.secure || next.host.empty() || next.object.empty() || next.object[0] != '/' ||
         next.object.find('#') != std::string::npos))
        std::abort();
    return 0;
}
