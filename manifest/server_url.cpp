// The manifest URL split into server and path, and the local manifest's place.
#include <cstdlib>

#include "entry/trace.h"
#include "entry/update_client.h"
#include "framework/strings.h"

namespace marvostell {

int CUpdateClient::PrepareManifest(const char *url, const char *dir) {
    m_strLocalDir = dir;
    TrimTrailing(m_strLocalDir, kPathSeparator);
    const std::string localIni = m_strLocalDir + kPathSeparator + "update.ini";

    if (!ParseServerUrl(url)) return 0;
    // No directory, or only separators, would put the files in the root
    // directory (of the current drive, on Windows): refused before any request.
    if (m_strLocalDir.find_first_not_of(kPathSeparators) == std::string::npos) {
        m_nError = static_cast<int32_t>(ERROR_PATH_NOT_FOUND | kLocalErrorFlag);
        return 0;
    }
    Trace("Marvostell!Server %s, File %s\n", m_strServer.c_str(), m_strObject.c_str());
    if (!FetchManifest(m_strServer.c_str(), m_strObject.c_str(), localIni.c_str())) return 0;

    m_strLocalIni = localIni;
    m_bManifestFetched = 1;
    return 1;
}

int CUpdateClient::ParseServerUrl(const char *url) {
    std::string text = url;
    TrimWhitespace(text);
    // Any scheme is dropped: the request is always plain HTTP.
    const std::string::size_type scheme = text.find("://");
    if (scheme != std::string::npos) text.erase(0, scheme + 3);

    const std::string::size_type slash = text.find('/');
    if (slash == std::string::npos) {
        m_nError = kErrorBadUrl;
        return 0;
    }
    m_strServer = text.substr(0, slash);
    m_strObject = text.substr(slash);
    return 1;
}

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

}  // namespace marvostell
