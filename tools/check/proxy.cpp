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

std::string ProxyInUse(const std::string &host) {
    // The first line names it as "proxy: NAME (...)"; none and unread say so.
    const std::vector<std::string> lines = DescribeProxy(host);
    const std::string &line = lines.front();
    if (line.compare(0, 7, "proxy: ") != 0 || line.compare(7, 4, "none") == 0 ||
        line.find("cannot be read") != std::string::npos)
        return "";
    return line.substr(7, line.find(" (") - 7);
}
#else
#include <initializer_list>

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

struct ProxyChoice {
    const char *variable = nullptr;  // the variable it came from; null: none set
    const char *proxy = nullptr;
    const char *noProxyName = nullptr;  // set when it exempts the host
    const char *noProxy = nullptr;
};

ProxyChoice ChooseProxy(const std::string &host, const EnvLookup &getenv) {
    ProxyChoice choice;
    for (const char *name : {"http_proxy", "all_proxy", "ALL_PROXY"}) {
        const char *value = getenv(name);
        if (value && *value) {
            choice.variable = name;
            choice.proxy = value;
            break;
        }
    }
    if (!choice.proxy) return choice;
    const char *noProxyName = "no_proxy";
    const char *noProxy = getenv(noProxyName);
    if (!noProxy || !*noProxy) noProxy = getenv(noProxyName = "NO_PROXY");
    if (noProxy && Exempts(noProxy, host)) {
        choice.noProxyName = noProxyName;
        choice.noProxy = noProxy;
    }
    return choice;
}

}  // namespace

std::vector<std::string> DescribeProxyFrom(const std::string &host, const EnvLookup &getenv) {
    const ProxyChoice choice = ChooseProxy(host, getenv);
    if (!choice.proxy) {
        const char *upper = getenv("HTTP_PROXY");
        if (upper && *upper)
            return {std::string("proxy: none: HTTP_PROXY=") + upper +
                    " is set, but ignored as libcurl ignores it (CGI servers set HTTP_PROXY from "
                    "a request's \"Proxy:\" header); set http_proxy in lower case to use it"};
        return {"proxy: none (http_proxy and all_proxy are not set)"};
    }
    if (choice.noProxy)
        return {std::string("proxy: none for this host: ") + choice.variable + "=" + choice.proxy +
                " is set, but " + choice.noProxyName + "=" + choice.noProxy + " exempts " + host};
    return {std::string("proxy: ") + choice.proxy + " (from the environment variable " +
            choice.variable + "); the request went to the proxy, not straight to the server"};
}

std::string ProxyInUseFrom(const std::string &host, const EnvLookup &getenv) {
    const ProxyChoice choice = ChooseProxy(host, getenv);
    return choice.proxy && !choice.noProxy ? choice.proxy : "";
}

std::string ProxyInUse(const std::string &host) {
    return ProxyInUseFrom(host, [](const char *name) { return std::getenv(name); });
}

std::vector<std::string> DescribeProxy(const std::string &host) {
    return DescribeProxyFrom(host, [](const char *name) { return std::getenv(name); });
}
#endif
