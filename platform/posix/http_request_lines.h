// Internal to platform/posix: the header lines and URL of a WinINet request
// as handed to libcurl. Pure functions, no network.
#pragma once

#include <string>
#include <vector>

#include "win32_posix.h"

namespace marvostell::posix {

// Splits header text (lines ended by CRLF or LF; length (DWORD)-1 for text
// ended by NUL) into "Name: value" lines. False when a non-empty line has no
// name.
bool ParseHeaderLines(const char *text, DWORD length, std::vector<std::string> *out);

// The host as a URL and a Host line write it: an IPv6 address in brackets.
std::string UrlHost(const std::string &host);

// A server name curl may resolve: WinINet takes no "host:port" or other
// punctuation, but takes an IPv6 address with or without brackets.
bool ValidHostName(const std::string &host);

// The object as curl can take it: the same bytes, except that blanks, control
// characters and bytes above 0x7F, which no URL may hold, are percent-encoded.
std::string UrlPath(const std::string &object);

// "host" or "host:port", the port left out when it is the scheme's default.
std::string HostPort(bool secure, const std::string &host, INTERNET_PORT port);

// What a request puts in its header, in WinINet's order: the accept types as
// one Accept line, the added lines, Host, User-Agent, the lines given to the
// send.
struct RequestHeaders {
    std::string accept;  // empty: no Accept line
    std::vector<std::string> added;
    std::string agent;   // empty: no User-Agent line
    std::vector<std::string> sent;
};

// The list for CURLOPT_HTTPHEADER: the lines in WinINet's order, then the
// removals ("Name:") of lines curl would add of its own.
std::vector<std::string> CurlHeaderLines(const RequestHeaders &headers,
                                         const std::string &hostPort);

// curl always sends its own Host line first. To keep ours in WinINet's place
// it travels inside the entry before it, as a second line of that entry, and
// curl's is removed; with no entry before it, it is the first entry and
// replaces curl's. Returns whether curl's Host line needs removing.
bool ArrangeHostLine(std::vector<std::string> &lines, const std::string &hostLine);

}  // namespace marvostell::posix
