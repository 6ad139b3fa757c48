#include "http_transfer.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include <strings.h>

#include "system_calls.h"

namespace marvostell::posix {
namespace {

// Body bytes held for the reader before the transfer is paused, and the level
// below which it resumes.
constexpr size_t kPauseAt = 64 * 1024;
constexpr size_t kResumeBelow = 32 * 1024;
constexpr int kMaxRedirects = 20;

// A header line's value without the blanks and line end around it.
std::string ValueOf(const std::string &line, size_t from) {
    const size_t start = line.find_first_not_of(" \t", from);
    if (start == std::string::npos) return "";
    return line.substr(start, line.find_last_not_of(" \t\r\n") + 1 - start);
}

}  // namespace

size_t Transfer::OnHeader(char *data, size_t size, size_t count, void *user) {
    Transfer &r = *static_cast<Transfer *>(user);
    size_t n = size * count;
    r.lastHeard = std::chrono::steady_clock::now();
    std::string line(data, n);
    if (line.compare(0, 5, "HTTP/") == 0) {
        r.hasLocation = false;
        r.location.clear();
    } else if (strncasecmp(line.c_str(), "Location:", 9) == 0 && !r.hasLocation) {
        // The line end counts as a value: a blank Location's redirect then
        // fails for want of a place to go.
        r.hasLocation = true;
        r.location = ValueOf(line, 9);
    } else if (line == "\r\n" || line == "\n") {
        long code = 0;
        curl_easy_getinfo(r.easy, CURLINFO_RESPONSE_CODE, &code);
        const bool followed = r.hasLocation && (r.flags & INTERNET_FLAG_NO_AUTO_REDIRECT) == 0 &&
                              (code == 301 || code == 302 || code == 303 || code == 307 ||
                               code == 308);
        if (code >= 200 && !followed) {
            r.headersDone = true;
            r.status = code;
        }
        if (followed) r.redirected = r.redirectPending = true;
    }
    return n;
}

size_t Transfer::OnBody(char *data, size_t size, size_t count, void *user) {
    Transfer &r = *static_cast<Transfer *>(user);
    size_t n = size * count;
    r.lastHeard = std::chrono::steady_clock::now();
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

bool Transfer::StartHop() {
    easy = curl_easy_init();
    if (easy == nullptr) return false;
    CURL *e = easy;
    const std::string hostPort = HostPort(target.secure, target.host, target.port);
    const std::string url =
        (target.secure ? "https://" : "http://") + hostPort + UrlPath(target.object);
    curl_easy_setopt(e, CURLOPT_URL, url.c_str());
    curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, errorText);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, limits.connectMilliseconds);
    if (target.secure) {
        // The system's certificate store, moved where OpenSSL's own variables say.
        if (const char *file = std::getenv("SSL_CERT_FILE")) curl_easy_setopt(e, CURLOPT_CAINFO, file);
        if (const char *dir = std::getenv("SSL_CERT_DIR")) curl_easy_setopt(e, CURLOPT_CAPATH, dir);
    }
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    for (const std::string &l : CurlHeaderLines(headers, hostPort)) {
        curl_slist *next = curl_slist_append(headerList, l.c_str());
        if (next == nullptr) return false;
        headerList = next;
    }
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headerList);
    return curl_multi_add_handle(multi, e) == CURLM_OK;
}

// Moves the request to the location its last answer named. False with
// result or refusal set when that cannot be done.
bool Transfer::FollowRedirect() {
    char *location = nullptr;
    curl_easy_getinfo(easy, CURLINFO_REDIRECT_URL, &location);
    Target next = target;
    bool ok = location != nullptr && ++hops <= kMaxRedirects;
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
        result = hops > kMaxRedirects ? CURLE_TOO_MANY_REDIRECTS : CURLE_URL_MALFORMAT;
        return false;
    }
    // WinINet detects a redirect that crosses between plain and secure HTTP
    // and fails the request with its own error, unless the request's flags
    // say to ignore that kind of redirect.
    if (next.secure != target.secure) {
        const DWORD ignore = next.secure ? INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS
                                         : INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTP;
        if ((flags & ignore) == 0) {
            refusal = next.secure ? ERROR_INTERNET_HTTP_TO_HTTPS_ON_REDIR
                                  : ERROR_INTERNET_HTTPS_TO_HTTP_ON_REDIR;
            return false;
        }
    }
    EndHop();
    target = next;
    if (!StartHop()) {
        result = CURLE_OUT_OF_MEMORY;
        return false;
    }
    return true;
}

void Transfer::Pump(const std::function<bool()> &ready) {
    // Silence counts only while a caller waits: the time between its reads
    // is its own.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point entered = Clock::now();
    while (!ready() && !done) {
        if (aborted) {
            done = true;
            refusal = ERROR_INTERNET_OPERATION_CANCELLED;
            break;
        }
        if (Clock::now() - std::max(entered, lastHeard) >=
            std::chrono::milliseconds(limits.stallMilliseconds)) {
            done = true;
            result = CURLE_OPERATION_TIMEDOUT;
            break;
        }
        if (paused && Available() < std::max(kResumeBelow, want)) {
            paused = false;
            curl_easy_pause(easy, CURLPAUSE_CONT);  // may deliver data at once
            continue;
        }
        int running = 0;
        CURLMcode mc = Sys().curlPerform(multi, &running);
        int queued = 0;
        bool restarted = false;
        while (CURLMsg *msg = curl_multi_info_read(multi, &queued)) {
            if (msg->msg != CURLMSG_DONE) continue;
            result = msg->data.result;
            if (redirectPending && FollowRedirect()) {
                restarted = true;
                break;
            }
            done = true;
        }
        if (restarted) continue;
        if (mc != CURLM_OK && !done) {
            done = true;
            result = mc == CURLM_OUT_OF_MEMORY ? CURLE_OUT_OF_MEMORY : CURLE_FAILED_INIT;
        }
        if (ready() || done) break;
        curl_multi_poll(multi, nullptr, 0, 200, nullptr);
    }
}

bool Transfer::Start(const Target &first, const RequestHeaders &requestHeaders,
                     DWORD requestFlags, const Timeouts &timeouts) {
    End();
    {
        std::lock_guard<std::mutex> lock(multiLock);
        multi = curl_multi_init();
    }
    if (multi == nullptr) return false;
    target = first;
    headers = requestHeaders;
    flags = requestFlags;
    limits = timeouts;
    return StartHop();
}

void Transfer::Abort() {
    aborted = true;
    std::lock_guard<std::mutex> lock(multiLock);
    if (multi != nullptr) curl_multi_wakeup(multi);
}

void Transfer::EndHop() {
    if (easy != nullptr) {
        if (multi != nullptr) curl_multi_remove_handle(multi, easy);
        curl_easy_cleanup(easy);
        easy = nullptr;
    }
    if (headerList != nullptr) {
        curl_slist_free_all(headerList);
        headerList = nullptr;
    }
    redirectPending = hasLocation = false;
    location.clear();
}

void Transfer::End() {
    EndHop();
    if (multi != nullptr) {
        std::lock_guard<std::mutex> lock(multiLock);
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

bool Transfer::RequestSent() const {
    long size = 0;
    return easy != nullptr && curl_easy_getinfo(easy, CURLINFO_REQUEST_SIZE, &size) == CURLE_OK &&
           size > 0;
}

long Transfer::VerifyResult() const {
    long verdict = -1;
    if (easy == nullptr || curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verdict) != CURLE_OK)
        return -1;
    return verdict;
}

size_t Transfer::Take(void *buffer, size_t size) {
    const size_t n = std::min(Available(), size);
    std::memcpy(buffer, pending.data() + head, n);
    head += n;
    return n;
}

}  // namespace marvostell::posix
