#include "http/http_redirect.h"

#include <cctype>

#include "http/http_get.h"

namespace marvostell {
namespace {

bool SameLetters(const std::string &text, const char *lower) {
    size_t i = 0;
    for (; i < text.size() && lower[i]; ++i)
        if (std::tolower(static_cast<unsigned char>(text[i])) != lower[i]) return false;
    return i == text.size() && lower[i] == '\0';
}

// The scheme before "://", or "" when the text does not start with one.
std::string SchemeOf(const std::string &url) {
    const std::string::size_type colon = url.find("://");
    if (colon == std::string::npos || colon == 0 ||
        !std::isalpha(static_cast<unsigned char>(url[0])))
        return "";
    for (std::string::size_type i = 1; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(url[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.') return "";
    }
    return url.substr(0, colon);
}

// "host[:port]" followed by the path, query and fragment.
bool SplitAuthority(const std::string &rest, HttpTarget &next) {
    const std::string::size_type end = rest.find_first_of("/?#");
    const std::string authority = rest.substr(0, end);
    if (authority.empty() || authority.find('@') != std::string::npos) return false;
    SplitHostPort(authority, next.host, next.port, INTERNET_DEFAULT_HTTPS_PORT);
    if (next.host.empty()) return false;
    next.object = end == std::string::npos ? "" : rest.substr(end);
    return true;
}

}  // namespace

bool IsRedirectStatus(DWORD status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

LocationVerdict ResolveLocation(const HttpTarget &from, const std::string &location,
                                HttpTarget &next) {
    const std::string::size_type first = location.find_first_not_of(" \t");
    if (first == std::string::npos) return LocationVerdict::kUnusable;
    const std::string url = location.substr(first, location.find_last_not_of(" \t") + 1 - first);
    next = from;
    next.secure = true;
    const std::string scheme = SchemeOf(url);
    if (!scheme.empty()) {
        if (SameLetters(scheme, "http")) return LocationVerdict::kToPlain;
        if (!SameLetters(scheme, "https") || !SplitAuthority(url.substr(scheme.size() + 3), next))
            return LocationVerdict::kUnusable;
    } else if (url.compare(0, 2, "//") == 0) {
        if (!SplitAuthority(url.substr(2), next)) return LocationVerdict::kUnusable;
    } else if (url[0] == '/') {
        next.object = url;
    } else {
        // Relative to the directory of the object that answered.
        const std::string path = from.object.substr(0, from.object.find_first_of("?#"));
        next.object = path.substr(0, path.rfind('/') + 1) + url;
    }
    next.object = next.object.substr(0, next.object.find('#'));
    if (next.object.empty() || next.object[0] != '/') next.object.insert(0, "/");
    return LocationVerdict::kFollow;
}

}  // namespace marvostell
