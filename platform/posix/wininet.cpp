// The WinINet subset the module calls, on libcurl.
//
// A root handle holds the agent text and the access type, a connection handle
// the server name and port (nothing connects yet), a request handle its verb,
// object, version, accept types and header lines, and from HttpSendRequestA on
// one curl easy handle on a multi handle of its own. HttpSendRequestA drives the
// transfer until the final response's headers are in; InternetReadFile drives
// it until the caller's buffer can be filled or the body has ended. Body bytes
// wait in a bounded buffer: when it is full, the transfer is paused
// (CURL_WRITEFUNC_PAUSE) until the reader has taken some of it.
//
// What goes on the wire is what WinINet sends (as observed under Wine): the
// request line with the object exactly as given, the accept types as one
// Accept header (none without accept types), the headers added with
// HttpAddRequestHeadersA as "Name: value", Host (with ":port" unless the port
// is the scheme's default), User-Agent, then the headers given to
// HttpSendRequestA. curl's own Accept and Expect are removed. curl always puts
// its own Host line first, so ours travels as a second line of the header
// before it; that is also why redirects are followed here rather than by curl,
// which would carry the Host line to the next server unchanged.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>
#include <vector>

#include <arpa/inet.h>
#include <curl/curl.h>

#include "win32_posix.h"

#ifndef ERROR_INSUFFICIENT_BUFFER
#define ERROR_INSUFFICIENT_BUFFER 122
#endif
#ifndef ERROR_INTERNET_INCORRECT_HANDLE_STATE
#define ERROR_INTERNET_INCORRECT_HANDLE_STATE 12019
#endif
#ifndef ERROR_HTTP_HEADER_ALREADY_EXISTS
#define ERROR_HTTP_HEADER_ALREADY_EXISTS 12155
#endif
#ifndef ERROR_INTERNET_SECURITY_CHANNEL_ERROR
#define ERROR_INTERNET_SECURITY_CHANNEL_ERROR 12157
#endif
#ifndef INTERNET_OPEN_TYPE_DIRECT
#define INTERNET_OPEN_TYPE_DIRECT 1
#endif
#ifndef INTERNET_OPEN_TYPE_PROXY
#define INTERNET_OPEN_TYPE_PROXY 3
#endif
#ifndef HTTP_ADDREQ_FLAG_ADD_IF_NEW
#define HTTP_ADDREQ_FLAG_ADD_IF_NEW 0x10000000u
#endif

namespace {

// Body bytes held for the reader before the transfer is paused, and the level
// below which it resumes.
constexpr size_t kPauseAt = 64 * 1024;
constexpr size_t kResumeBelow = 32 * 1024;
constexpr long kConnectTimeoutSeconds = 60;
constexpr long kStallSeconds = 60;
constexpr int kMaxRedirects = 20;

std::once_flag g_curlInit;
bool g_curlReady = false;

bool InitCurl() {
    std::call_once(g_curlInit, [] { g_curlReady = curl_global_init(CURL_GLOBAL_DEFAULT) == 0; });
    return g_curlReady;
}

enum class Kind { Root, Connection, Request };

struct Handle {
    explicit Handle(Kind k) : kind(k) {}
    virtual ~Handle() = default;
    Kind kind;
};

struct Root : Handle {
    Root() : Handle(Kind::Root) {}
    std::string agent;
    bool hasAgent = false;
    DWORD accessType = INTERNET_OPEN_TYPE_PRECONFIG;
    std::string proxy;
};

struct Connection : Handle {
    Connection() : Handle(Kind::Connection) {}
    Root settings;  // a copy: the root may be closed first
    std::string host;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
};

// Where one hop of a request goes.
struct Target {
    bool secure = false;
    std::string host;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
    std::string object;
    std::string verb;
};

struct Request : Handle {
    Request() : Handle(Kind::Request) {}
    ~Request() override { EndTransfer(); }

    Root settings;
    std::string host;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
    std::string verb;
    std::string object;
    bool http10 = false;
    DWORD flags = 0;     // HttpOpenRequestA's
    std::string accept;  // empty: no Accept header
    std::vector<std::string> headers;  // "Name: value", in order added

    // The transfer: the current hop and what the send added.
    Target target;
    std::vector<std::string> sendHeaders;
    int hops = 0;
    bool redirectPending = false;  // this hop's answer is a redirect to follow
    CURLM *multi = nullptr;
    CURL *easy = nullptr;
    curl_slist *headerList = nullptr;
    std::string postData;
    char errorText[CURL_ERROR_SIZE] = {};
    bool headersDone = false;  // the final response's headers are in
    bool done = false;         // curl has finished the transfer
    CURLcode result = CURLE_OK;
    DWORD refusal = ERROR_SUCCESS;  // a WinINet error decided here, not by curl
    long status = 0;
    bool blockHasLocation = false;
    bool redirected = false;
    // Body bytes not yet read: pending[head, size()).
    std::string pending;
    size_t head = 0;
    bool paused = false;
    size_t want = 0;  // bytes the current read waits for

    size_t Available() const { return pending.size() - head; }

    // Ends the current hop's easy handle.
    void EndHop() {
        if (easy != nullptr) {
            if (multi != nullptr) curl_multi_remove_handle(multi, easy);
            curl_easy_cleanup(easy);
            easy = nullptr;
        }
        if (headerList != nullptr) {
            curl_slist_free_all(headerList);
            headerList = nullptr;
        }
        redirectPending = blockHasLocation = false;
    }

    void EndTransfer() {
        EndHop();
        if (multi != nullptr) {
            curl_multi_cleanup(multi);
            multi = nullptr;
        }
        headersDone = done = paused = redirected = false;
        hops = 0;
        result = CURLE_OK;
        refusal = ERROR_SUCCESS;
        status = 0;
        pending.clear();
        head = 0;
        want = 0;
    }
};

std::mutex g_handlesMutex;
std::unordered_set<Handle *> g_handles;

HINTERNET Register(Handle *h) {
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    g_handles.insert(h);
    return h;
}

// The live handle of the wanted kind, or null with the last error set.
template <class T>
T *Find(HINTERNET handle, Kind kind) {
    std::lock_guard<std::mutex> lock(g_handlesMutex);
    Handle *h = static_cast<Handle *>(handle);
    if (handle == nullptr || g_handles.count(h) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    if (h->kind != kind) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_TYPE);
        return nullptr;
    }
    return static_cast<T *>(h);
}

std::string Trim(const std::string &s) {
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return std::string();
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

bool SameName(const std::string &line, const std::string &name) {
    if (line.size() <= name.size() || line[name.size()] != ':') return false;
    return strncasecmp(line.c_str(), name.c_str(), name.size()) == 0;
}

bool HasHeader(const std::vector<std::string> &lines, const std::string &name) {
    return std::any_of(lines.begin(), lines.end(),
                       [&](const std::string &l) { return SameName(l, name); });
}

// Splits header text (lines ended by CRLF or LF) into "Name: value" lines.
// False when a non-empty line has no name.
bool ParseHeaders(const char *text, DWORD length, std::vector<std::string> *out) {
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

std::string NameOf(const std::string &line) { return line.substr(0, line.find(':')); }

// Applies header lines with HttpAddRequestHeadersA's modifiers.
DWORD AddHeaders(std::vector<std::string> &headers, const std::vector<std::string> &lines,
                 DWORD modifiers) {
    for (const std::string &line : lines) {
        std::string name = NameOf(line);
        bool empty = line.size() == name.size() + 2;
        auto it = std::find_if(headers.begin(), headers.end(),
                               [&](const std::string &l) { return SameName(l, name); });
        if (modifiers & HTTP_ADDREQ_FLAG_REPLACE) {
            if (it != headers.end()) {
                if (empty) headers.erase(it);
                else *it = line;
                continue;
            }
            if (!(modifiers & HTTP_ADDREQ_FLAG_ADD)) return ERROR_HTTP_HEADER_NOT_FOUND;
        } else if ((modifiers & HTTP_ADDREQ_FLAG_ADD_IF_NEW) && it != headers.end()) {
            return ERROR_HTTP_HEADER_ALREADY_EXISTS;
        }
        if (!empty) headers.push_back(line);
    }
    return ERROR_SUCCESS;
}

bool IsIpv6Address(const std::string &text) {
    in6_addr address;
    return text.find(':') != std::string::npos &&
           inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

// The host as a URL and a Host line write it: an IPv6 address in brackets.
std::string UrlHost(const std::string &host) {
    return IsIpv6Address(host) ? "[" + host + "]" : host;
}

// A server name curl may resolve: WinINet takes no "host:port" or other
// punctuation, but takes an IPv6 address with or without brackets.
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

// The object as curl can take it: the same bytes, except that blanks, control
// characters and bytes above 0x7F, which no URL may hold, are percent-encoded.
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

// Whether the request went out, so that a failure after it lies in the answer.
bool RequestSent(const Request &r) {
    long size = 0;
    return r.easy != nullptr && curl_easy_getinfo(r.easy, CURLINFO_REQUEST_SIZE, &size) == CURLE_OK &&
           size > 0;
}

// WinINet's number for a transfer that failed before the response headers.
DWORD SendError(const Request &r) {
    if (r.refusal != ERROR_SUCCESS) return r.refusal;
    switch (r.result) {
    case CURLE_COULDNT_CONNECT: return ERROR_INTERNET_CANNOT_CONNECT;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY: return ERROR_INTERNET_NAME_NOT_RESOLVED;
    case CURLE_OPERATION_TIMEDOUT: return ERROR_INTERNET_TIMEOUT;
    case CURLE_RECV_ERROR:
        // Headers past libcurl's total limit are an answer that cannot be used.
        if (std::strncmp(r.errorText, "Too large response headers", 26) == 0)
            return ERROR_HTTP_INVALID_SERVER_RESPONSE;
        return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_SEND_ERROR: return ERROR_INTERNET_CONNECTION_ABORTED;
    case CURLE_GOT_NOTHING:
    case CURLE_WEIRD_SERVER_REPLY: return ERROR_HTTP_INVALID_SERVER_RESPONSE;
    case CURLE_TOO_MANY_REDIRECTS: return ERROR_HTTP_REDIRECT_FAILED;
    case CURLE_URL_MALFORMAT:
        return r.redirected ? ERROR_HTTP_REDIRECT_FAILED : ERROR_INTERNET_INVALID_URL;
    case CURLE_UNSUPPORTED_PROTOCOL:  // a redirect elsewhere, or an HTTP/0.9 answer
        return r.redirected ? ERROR_HTTP_REDIRECT_FAILED : ERROR_HTTP_INVALID_SERVER_RESPONSE;
#if LIBCURL_VERSION_NUM >= 0x080600
    case CURLE_TOO_LARGE: return ERROR_HTTP_INVALID_SERVER_RESPONSE;
#endif
    case CURLE_OUT_OF_MEMORY:
        // libcurl gives this code for a header line longer than it will hold
        // (100 KiB): once the request is out, it is the server's answer that
        // cannot be used, not this process that ran out of memory.
        return RequestSent(r) ? ERROR_HTTP_INVALID_SERVER_RESPONSE : ERROR_NOT_ENOUGH_MEMORY;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION: return ERROR_INTERNET_SECURITY_CHANNEL_ERROR;
    default: return ERROR_INTERNET_INTERNAL_ERROR;
    }
}

size_t OnHeader(char *data, size_t size, size_t count, void *user) {
    Request &r = *static_cast<Request *>(user);
    size_t n = size * count;
    std::string line(data, n);
    if (line.compare(0, 5, "HTTP/") == 0) {
        r.blockHasLocation = false;
    } else if (strncasecmp(line.c_str(), "Location:", 9) == 0 && !Trim(line.substr(9)).empty()) {
        r.blockHasLocation = true;
    } else if (line == "\r\n" || line == "\n") {
        long code = 0;
        curl_easy_getinfo(r.easy, CURLINFO_RESPONSE_CODE, &code);
        bool followed = r.blockHasLocation && (code == 301 || code == 302 || code == 303 ||
                                               code == 307 || code == 308);
        if (code >= 200 && !followed) {
            r.headersDone = true;
            r.status = code;
        }
        if (followed) r.redirected = r.redirectPending = true;
    }
    return n;
}

size_t OnBody(char *data, size_t size, size_t count, void *user) {
    Request &r = *static_cast<Request *>(user);
    size_t n = size * count;
    if (!r.headersDone) return n;  // the body of a redirect
    if (r.Available() >= std::max(kPauseAt, r.want)) {
        r.paused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    if (r.head > 0 && r.head == r.pending.size()) {
        r.pending.clear();
        r.head = 0;
    } else if (r.head >= kPauseAt) {
        r.pending.erase(0, r.head);
        r.head = 0;
    }
    r.pending.append(data, n);
    return n;
}

// Starts the current hop (r.target) on a new easy handle.
bool StartHop(Request &r) {
    r.easy = curl_easy_init();
    if (r.easy == nullptr) return false;
    CURL *e = r.easy;
    const Target &t = r.target;
    const INTERNET_PORT defaultPort = t.secure ? 443 : INTERNET_DEFAULT_HTTP_PORT;
    std::string hostPort = UrlHost(t.host);
    if (t.port != defaultPort) hostPort += ":" + std::to_string(t.port);
    std::string url = (t.secure ? "https://" : "http://") + hostPort + UrlPath(t.object);
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, r.errorText);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION,
                     r.http10 ? static_cast<long>(CURL_HTTP_VERSION_1_0)
                              : static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT, kConnectTimeoutSeconds);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
    if (r.settings.accessType == INTERNET_OPEN_TYPE_DIRECT) {
        curl_easy_setopt(e, CURLOPT_NOPROXY, "*");
    } else if (r.settings.accessType == INTERNET_OPEN_TYPE_PROXY) {
        curl_easy_setopt(e, CURLOPT_PROXY, r.settings.proxy.c_str());
    }
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &r);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &r);

    // The header lines in WinINet's order.
    std::vector<std::string> lines;
    if (!r.accept.empty()) lines.push_back("Accept: " + r.accept);
    lines.insert(lines.end(), r.headers.begin(), r.headers.end());
    const bool ownHost = !HasHeader(r.headers, "Host") && !HasHeader(r.sendHeaders, "Host");
    const std::string hostLine = "Host: " + hostPort;
    if (ownHost) {
        // curl sends a Host line of its own first; ours rides on the line
        // before it so that it keeps its place.
        if (lines.empty()) lines.push_back(hostLine);
        else lines.back() += "\r\n" + hostLine;
    }
    if (r.settings.hasAgent && !HasHeader(r.headers, "User-Agent") &&
        !HasHeader(r.sendHeaders, "User-Agent"))
        lines.push_back("User-Agent: " + r.settings.agent);
    lines.insert(lines.end(), r.sendHeaders.begin(), r.sendHeaders.end());
    // Headers curl would add of its own.
    std::vector<std::string> removals = {"Expect:"};
    if (r.accept.empty()) removals.push_back("Accept:");
    if (ownHost && lines.front() != hostLine) removals.push_back("Host:");

    if (t.verb == "GET") {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else if (t.verb == "HEAD") {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE, static_cast<long>(r.postData.size()));
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, r.postData.data());
        if (t.verb != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, t.verb.c_str());
        if (!HasHeader(r.headers, "Content-Type") && !HasHeader(r.sendHeaders, "Content-Type"))
            removals.push_back("Content-Type:");
    }
    lines.insert(lines.end(), removals.begin(), removals.end());
    for (const std::string &l : lines) {
        curl_slist *next = curl_slist_append(r.headerList, l.c_str());
        if (next == nullptr) return false;
        r.headerList = next;
    }
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, r.headerList);
    return curl_multi_add_handle(r.multi, e) == CURLM_OK;
}

// Moves the request to the location its last answer named. False with
// r.result set when that cannot be done.
bool FollowRedirect(Request &r) {
    char *location = nullptr;
    curl_easy_getinfo(r.easy, CURLINFO_REDIRECT_URL, &location);
    long code = 0;
    curl_easy_getinfo(r.easy, CURLINFO_RESPONSE_CODE, &code);
    Target next = r.target;
    bool ok = location != nullptr && ++r.hops <= kMaxRedirects;
    CURLU *u = ok ? curl_url() : nullptr;
    char *scheme = nullptr, *host = nullptr, *port = nullptr, *path = nullptr, *query = nullptr;
    ok = u != nullptr && curl_url_set(u, CURLUPART_URL, location, CURLU_PATH_AS_IS) == CURLUE_OK &&
         curl_url_get(u, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
         curl_url_get(u, CURLUPART_HOST, &host, 0) == CURLUE_OK &&
         curl_url_get(u, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK &&
         curl_url_get(u, CURLUPART_PATH, &path, 0) == CURLUE_OK;
    if (ok) {
        curl_url_get(u, CURLUPART_QUERY, &query, 0);
        next.secure = strcasecmp(scheme, "https") == 0;
        ok = next.secure || strcasecmp(scheme, "http") == 0;
        next.host = host;
        next.port = static_cast<INTERNET_PORT>(std::atoi(port));
        next.object = path;
        if (query != nullptr) next.object += std::string("?") + query;
    }
    for (char *part : {scheme, host, port, path, query}) curl_free(part);
    if (u != nullptr) curl_url_cleanup(u);
    if (!ok) {
        r.result = r.hops > kMaxRedirects ? CURLE_TOO_MANY_REDIRECTS : CURLE_URL_MALFORMAT;
        return false;
    }
    // WinINet detects a redirect that crosses between plain and secure HTTP
    // and fails the request with its own error, unless the request's flags
    // say to ignore that kind of redirect.
    if (next.secure != r.target.secure) {
        const DWORD ignore = next.secure ? INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS
                                         : INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP;
        if ((r.flags & ignore) == 0) {
            r.refusal = next.secure ? ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR
                                    : ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
            return false;
        }
    }
    // As browsers do: 301, 302 and 303 turn a request with a body into a GET.
    if (code != 307 && code != 308 && next.verb != "GET" && next.verb != "HEAD") {
        next.verb = "GET";
        r.postData.clear();
    }
    r.EndHop();
    r.target = next;
    if (!StartHop(r)) {
        r.result = CURLE_OUT_OF_MEMORY;
        return false;
    }
    return true;
}

// Runs the transfer until ready() holds or it has finished, following
// redirects on the way.
template <class Ready>
void Pump(Request &r, Ready ready) {
    while (!ready() && !r.done) {
        if (r.paused && r.Available() < std::max(kResumeBelow, r.want)) {
            r.paused = false;
            curl_easy_pause(r.easy, CURLPAUSE_CONT);  // may deliver data at once
            continue;
        }
        int running = 0;
        CURLMcode mc = curl_multi_perform(r.multi, &running);
        int queued = 0;
        bool restarted = false;
        while (CURLMsg *msg = curl_multi_info_read(r.multi, &queued)) {
            if (msg->msg != CURLMSG_DONE) continue;
            r.result = msg->data.result;
            if (r.redirectPending && FollowRedirect(r)) {
                restarted = true;
                break;
            }
            r.done = true;
        }
        if (restarted) continue;
        if (mc != CURLM_OK && !r.done) {
            r.done = true;
            r.result = mc == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
        }
        if (ready() || r.done) break;
        curl_multi_poll(r.multi, nullptr, 0, 1000, nullptr);
    }
}

// Sets up the first hop of one send of the request.
bool StartTransfer(Request &r, const void *optional, DWORD optionalLength) {
    r.multi = curl_multi_init();
    if (r.multi == nullptr) return false;
    r.target.secure = false;
    r.target.host = r.host;
    r.target.port = r.port;
    r.target.object = r.object;
    r.target.verb = r.verb;
    r.postData.assign(optional != nullptr ? static_cast<const char *>(optional) : "",
                      optional != nullptr ? optionalLength : 0);
    return StartHop(r);
}

}  // namespace

HINTERNET InternetOpenA(LPCSTR agent, DWORD accessType, LPCSTR proxy, LPCSTR, DWORD) {
    if (!InitCurl()) {
        SetLastError(ERROR_INTERNET_INTERNAL_ERROR);
        return nullptr;
    }
    Root *root = new (std::nothrow) Root;
    if (root == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    root->hasAgent = agent != nullptr && *agent != '\0';
    if (root->hasAgent) root->agent = agent;
    root->accessType = accessType;
    if (proxy != nullptr) root->proxy = proxy;
    return Register(root);
}

HINTERNET InternetConnectA(HINTERNET internet, LPCSTR serverName, INTERNET_PORT serverPort,
                           LPCSTR, LPCSTR, DWORD service, DWORD, uintptr_t) {
    Root *root = Find<Root>(internet, Kind::Root);
    if (root == nullptr) return nullptr;
    if (serverName == nullptr || *serverName == '\0' || service != INTERNET_SERVICE_HTTP) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    Connection *c = new (std::nothrow) Connection;
    if (c == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    c->settings = *root;
    c->host = serverName;
    c->port = serverPort == 0 ? INTERNET_DEFAULT_HTTP_PORT : serverPort;
    return Register(c);
}

HINTERNET HttpOpenRequestA(HINTERNET connect, LPCSTR verb, LPCSTR objectName, LPCSTR version,
                           LPCSTR referrer, LPCSTR *acceptTypes, DWORD flags, uintptr_t) {
    Connection *c = Find<Connection>(connect, Kind::Connection);
    if (c == nullptr) return nullptr;
    Request *r = new (std::nothrow) Request;
    if (r == nullptr) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    r->settings = c->settings;
    r->host = c->host;
    r->port = c->port;
    r->verb = verb != nullptr && *verb != '\0' ? verb : "GET";
    r->object = objectName != nullptr && *objectName != '\0' ? objectName : "/";
    r->http10 = version != nullptr && strcasecmp(version, "HTTP/1.0") == 0;
    r->flags = flags;
    if (referrer != nullptr && *referrer != '\0') r->headers.push_back(std::string("Referer: ") + referrer);
    for (LPCSTR *t = acceptTypes; t != nullptr && *t != nullptr; ++t) {
        if (**t == '\0') continue;
        if (!r->accept.empty()) r->accept += ", ";
        r->accept += *t;
    }
    return Register(r);
}

BOOL HttpAddRequestHeadersA(HINTERNET request, LPCSTR headers, DWORD headersLength,
                            DWORD modifiers) {
    Request *r = Find<Request>(request, Kind::Request);
    if (r == nullptr) return FALSE;
    std::vector<std::string> lines;
    if (headers == nullptr || !ParseHeaders(headers, headersLength, &lines)) {
        SetLastError(headers == nullptr ? ERROR_INVALID_PARAMETER : ERROR_HTTP_INVALID_HEADER);
        return FALSE;
    }
    if (lines.empty()) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    DWORD error = AddHeaders(r->headers, lines, modifiers);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

BOOL HttpSendRequestA(HINTERNET request, LPCSTR headers, DWORD headersLength, LPVOID optional,
                      DWORD optionalLength) {
    Request *r = Find<Request>(request, Kind::Request);
    if (r == nullptr) return FALSE;
    std::vector<std::string> sendHeaders;
    if (headers != nullptr && headersLength != 0) {
        if (!ParseHeaders(headers, headersLength, &sendHeaders)) {
            SetLastError(ERROR_HTTP_INVALID_HEADER);
            return FALSE;
        }
        // Lines given here replace added ones of the same name.
        for (const std::string &line : sendHeaders) {
            auto &h = r->headers;
            h.erase(std::remove_if(h.begin(), h.end(),
                                   [&](const std::string &l) { return SameName(l, NameOf(line)); }),
                    h.end());
        }
    }
    r->EndTransfer();
    r->sendHeaders = std::move(sendHeaders);
    if (!ValidHostName(r->host)) {
        SetLastError(ERROR_INTERNET_NAME_NOT_RESOLVED);
        return FALSE;
    }
    if (!StartTransfer(*r, optional, optionalLength)) {
        r->EndTransfer();
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    Pump(*r, [r] { return r->headersDone; });
    if (r->headersDone) return TRUE;
    DWORD error = SendError(*r);
    r->EndTransfer();
    SetLastError(error);
    return FALSE;
}

BOOL HttpQueryInfoA(HINTERNET request, DWORD infoLevel, LPVOID buffer, LPDWORD bufferLength,
                    LPDWORD index) {
    Request *r = Find<Request>(request, Kind::Request);
    if (r == nullptr) return FALSE;
    if (!r->headersDone) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return FALSE;
    }
    if ((infoLevel & 0xFFFFu) != HTTP_QUERY_STATUS_CODE ||
        (infoLevel & 0xFFFF0000u & ~HTTP_QUERY_FLAG_NUMBER) != 0) {
        SetLastError(ERROR_HTTP_INVALID_QUERY_REQUEST);
        return FALSE;
    }
    if (index != nullptr && *index != 0) {
        SetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
        return FALSE;
    }
    if (bufferLength == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (infoLevel & HTTP_QUERY_FLAG_NUMBER) {
        if (*bufferLength < sizeof(DWORD) || buffer == nullptr) {
            *bufferLength = sizeof(DWORD);
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        DWORD status = static_cast<DWORD>(r->status);
        std::memcpy(buffer, &status, sizeof status);
        *bufferLength = sizeof(DWORD);
    } else {
        std::string text = std::to_string(r->status);
        if (*bufferLength < text.size() + 1 || buffer == nullptr) {
            *bufferLength = static_cast<DWORD>(text.size() + 1);
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return FALSE;
        }
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        *bufferLength = static_cast<DWORD>(text.size());
    }
    if (index != nullptr) *index = 1;
    return TRUE;
}

BOOL InternetReadFile(HINTERNET file, LPVOID buffer, DWORD toRead, LPDWORD read) {
    if (read != nullptr) *read = 0;
    Request *r = Find<Request>(file, Kind::Request);
    if (r == nullptr) return FALSE;
    if (read == nullptr || (buffer == nullptr && toRead != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!r->headersDone) {
        SetLastError(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
        return FALSE;
    }
    if (toRead == 0) return TRUE;
    r->want = toRead;
    Pump(*r, [r, toRead] { return r->Available() >= toRead; });
    r->want = 0;
    size_t n = std::min<size_t>(r->Available(), toRead);
    if (n > 0) {
        std::memcpy(buffer, r->pending.data() + r->head, n);
        r->head += n;
        *read = static_cast<DWORD>(n);
        return TRUE;
    }
    // Nothing left: the body has ended, cleanly or not.
    switch (r->result) {
    case CURLE_OK:
    case CURLE_PARTIAL_FILE:  // shorter than declared: WinINet ends silently
        return TRUE;
    case CURLE_RECV_ERROR:
        SetLastError(WSAECONNRESET);
        return FALSE;
    default:
        SetLastError(SendError(*r));
        return FALSE;
    }
}

BOOL InternetCloseHandle(HINTERNET handle) {
    Handle *h = static_cast<Handle *>(handle);
    {
        std::lock_guard<std::mutex> lock(g_handlesMutex);
        if (handle == nullptr || g_handles.erase(h) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
    }
    delete h;  // a request's destructor aborts its transfer
    return TRUE;
}
