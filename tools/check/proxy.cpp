#include "proxy.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#include <wininet.h>

#include <memory>

std::vector<std::string> DescribeProxy(const std::string &) {
    HINTERNET root = InternetOpenA("marvostell-check", INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                                   nullptr, 0);
    if (!root) return {"proxy: WinINet's settings cannot be read"};
    DWORD size = 0;
    InternetQueryOptionA(root, INTERNET_OPTION_PROXY, nullptr, &size);
    std::unique_ptr<char[]> buffer(new char[size ? size : 1]);
    std::vector<std::string> lines;
    if (!size || !InternetQueryOptionA(root, INTERNET_OPTION_PROXY, buffer.get(), &size)) {
        lines.push_back("proxy: WinINet's settings cannot be read");
    } else {
        const auto *info = reinterpret_cast<const INTERNET_PROXY_INFO *>(buffer.get());
        if (info->dwAccessType == INTERNET_OPEN_TYPE_PROXY && info->lpszProxy &&
            *info->lpszProxy) {
            std::string line = std::string("proxy: ") + info->lpszProxy +
                               " (WinINet's preconfigured settings";
            if (info->lpszProxyBypass && *info->lpszProxyBypass)
                line += std::string("; bypassed for ") + info->lpszProxyBypass;
            lines.push_back(line + ")");
        } else {
            lines.push_back("proxy: none (WinINet's preconfigured settings connect directly)");
        }
    }
    InternetCloseHandle(root);
    return lines;
}
#else
#include "text.h"

namespace {

using marvostell::tools::Lower;

bool Exempts(const std::string &noProxy, const std::string &host) {
    const std::string name = Lower(host);
    std::string::size_type at = 0;
    while (at < noProxy.size()) {
        std::string::size_type end = noProxy.find(',', at);
        if (end == std::string::npos) end = noProxy.size();
        std::string entry = noProxy.substr(at, end - at);
        at = end + 1;
        const std::string::size_type first = entry.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        entry = Lower(entry.substr(first, entry.find_last_not_of(" \t") - first + 1));
        if (entry == "*") return true;
        if (entry[0] == '.') entry.erase(0, 1);
        if (name == entry) return true;
        if (name.size() > entry.size() && name.compare(name.size() - entry.size(), entry.size(),
                                                       entry) == 0 &&
            name[name.size() - entry.size() - 1] == '.')
            return true;
    }
    return false;
}

}  // namespace

std::vector<std::string> DescribeProxyFrom(
    const std::string &host, const std::function<const char *(const char *)> &getenv) {
    const char *names[] = {"http_proxy", "all_proxy", "ALL_PROXY"};
    const char *variable = nullptr;
    const char *proxy = nullptr;
    for (const char *name : names) {
        const char *value = getenv(name);
        if (value && *value) {
            variable = name;
            proxy = value;
            break;
        }
    }
    if (!proxy) return {"proxy: none (http_proxy and all_proxy are not set)"};
    const char *noProxyName = "no_proxy";
    const char *noProxy = getenv(noProxyName);
    if (!noProxy || !*noProxy) noProxy = getenv(noProxyName = "NO_PROXY");
    if (noProxy && Exempts(noProxy, host))
        return {std::string("proxy: none for this host: ") + variable + "=" + proxy +
                " is set, but " + noProxyName + "=" + noProxy + " exempts " + host};
    return {std::string("proxy: ") + proxy + " (from the environment variable " + variable +
            "); the request went to the proxy, not straight to the server"};
}

std::vector<std::string> DescribeProxy(const std::string &host) {
    return DescribeProxyFrom(host, [](const char *name) { return std::getenv(name); });
}
#endif
