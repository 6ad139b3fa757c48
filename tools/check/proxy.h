// The proxy that the module's requests to a host go through, as the platform
// configures it for every program: on Linux the environment variables that
// libcurl reads, on Windows WinINet's preconfigured settings (under Wine these
// include http_proxy from the environment).
#pragma once

#include <functional>
#include <string>
#include <vector>

// Lines for people naming the proxy, where it came from, or that there is none.
std::vector<std::string> DescribeProxy(const std::string &host);

// The proxy that requests to `host` go through, "" for none.
std::string ProxyInUse(const std::string &host);

#ifndef _WIN32
// The same for an explicit environment (a lookup that returns null for unset
// names), following libcurl's rules for a plain-HTTP request: http_proxy in
// lower case only, then all_proxy or ALL_PROXY; no_proxy or NO_PROXY exempts
// hosts ("*", a name, or a domain that the host ends with).
// Upper-case HTTP_PROXY is named as ignored: libcurl leaves it out because
// CGI servers set it from a request's "Proxy:" header.
using EnvLookup = std::function<const char *(const char *)>;
std::vector<std::string> DescribeProxyFrom(const std::string &host, const EnvLookup &getenv);
std::string ProxyInUseFrom(const std::string &host, const EnvLookup &getenv);
#endif
