#include "http_request_lines.h"

#include <algorithm>

#include <arpa/inet.h>

namespace marvostell::posix {
namespace {

std::string Trim(const std::string &s) {
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return std::string();
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

bool IsIpv6Address(const std::string &text) {
    in6_addr address;
    return text.find(':') != std::string::npos &&
           inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

}  // namespace

bool ParseHeaderLines(const char *text, DWORD length, std::vector<std::string> *out) {
    std::string all = length == static_cast<DWORD>(-1) ? std::string(text)
                                                       : std::string(text, length);
    size_t nul = all.find('\0');
    if (nul != std::string::npos) all.resize(nul);
    size_t pos = 0;
    while (pos <= all.size()) {
        size_t end = all.find('\n', pos);
        std::string line = all.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!Trim(line).empty()) {
            size_t colon = line.find(':');
            std::string name = colon == std::string::npos ? std::string() : Trim(line.substr(0, colon));
            if (name.empty() || name.find_first_of(" \t") != std::string::npos) return false;
            out->push_back(name + ": " + Trim(line.substr(colon + 1)));
        }
        if (end == std::string::npos) break;
        pos = end + 1;
    }
    return true;
}

std::string UrlHost(const std::string &host) {
    return IsIpv6Address(host) ? "[" + host + "]" : host;
}

bool ValidHostName(const std::string &host) {
    if (host.empty()) return false;
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        return IsIpv6Address(host.substr(1, host.size() - 2));
    if (IsIpv6Address(host)) return true;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '.' || c == '-' || c == '_';
    });
}

std::string UrlPath(const std::string &object) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    if (object.empty() || object[0] != '/') out += '/';
    for (unsigned char c : object) {
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string HostPort(bool secure, const std::string &host, INTERNET_PORT port) {
    const INTERNET_PORT defaultPort = secure ? 443 : INTERNET_DEFAULT_HTTP_PORT;
    std::string text = UrlHost(host);
    if (port != defaultPort) text += ":" + std::to_string(port);
    return text;
}

bool ArrangeHostLine(std::vector<std::string> &lines, const std::string &hostLine) {
    if (lines.empty()) {
        lines.push_back(hostLine);
        return false;
    }
    lines.back() += "\r\n" + hostLine;
    return true;
}

std::vector<std::string> CurlHeaderLines(const RequestHeaders &headers,
                                         const std::string &hostPort) {
    std::vector<std::string> lines;
    if (!headers.accept.empty()) lines.push_back("Accept: " + headers.accept);
    lines.insert(lines.end(), headers.added.begin(), headers.added.end());
    const bool removeCurlsHost = ArrangeHostLine(lines, "Host: " + hostPort);
    if (!headers.agent.empty()) lines.push_back("User-Agent: " + headers.agent);
    lines.insert(lines.end(), headers.sent.begin(), headers.sent.end());
    lines.push_back("Expect:");
    if (headers.accept.empty()) lines.push_back("Accept:");
    if (removeCurlsHost) lines.push_back("Host:");
    return lines;
}

}  // namespace marvostell::posix
