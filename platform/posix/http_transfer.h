// Internal to platform/posix: one GET request's transfer on libcurl.
//
// Each hop runs on its own curl easy handle on the transfer's multi handle.
// Pump drives it until the final response's headers are in or until a read
// can be served; body bytes wait in a bounded buffer, and when that is full
// the transfer is paused (CURL_WRITEFUNC_PAUSE) until the reader has taken
// some. Redirects are followed here rather than by curl, which would carry
// our Host line to the next server unchanged; a request opened with
// INTERNET_FLAG_NO_AUTO_REDIRECT takes the redirect as its answer.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>

#include <curl/curl.h>

#include "http_request_lines.h"
#include "win32_posix.h"

namespace marvostell::posix {

// Where one hop of a request goes.
struct Target {
    bool secure = false;
    std::string host;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
    std::string object;
};

// WinINet's connect time-out and the longest a transfer may receive nothing.
struct Timeouts {
    long connectMilliseconds = 60000;
    long stallMilliseconds = 60000;
};

class Transfer {
public:
    Transfer() = default;
    Transfer(const Transfer &) = delete;
    Transfer &operator=(const Transfer &) = delete;
    ~Transfer() { End(); }

    // Starts the first hop. False when curl cannot be set up.
    bool Start(const Target &first, const RequestHeaders &headers, DWORD requestFlags,
               const Timeouts &timeouts);
    // Runs the transfer until ready() holds or it has finished.
    void Pump(const std::function<bool()> &ready);
    // From another thread: ends the transfer, and a Pump under way returns
    // with ERROR_INTERNET_OPERATION_CANCELLED.
    void Abort();
    // The longest a wait may receive nothing, from the next wait on.
    void SetStallLimit(long milliseconds) { limits.stallMilliseconds = milliseconds; }
    // Ends it and forgets its state.
    void End();
    // Whether the request went out, so that a failure after it lies in the answer.
    bool RequestSent() const;
    // OpenSSL's verdict on the server's certificate chain (X509_V_*), or -1.
    long VerifyResult() const;
    size_t Available() const { return pending.size() - head; }
    // The current hop's curl handle, for what curl learnt of the answer.
    CURL *Easy() const { return easy; }
    // Moves up to size bytes of the body to buffer; returns how many.
    size_t Take(void *buffer, size_t size);

    // Read by the API after Pump.
    bool headersDone = false;  // the final response's headers are in
    bool done = false;         // curl has finished the transfer
    CURLcode result = CURLE_OK;
    DWORD refusal = ERROR_SUCCESS;  // a WinINet error decided here, not by curl
    long status = 0;
    bool redirected = false;
    // The final answer's Location line, trimmed (a redirect the request
    // asked not to follow, INTERNET_FLAG_NO_AUTO_REDIRECT, is that answer).
    bool hasLocation = false;
    std::string location;
    char errorText[CURL_ERROR_SIZE] = {};
    size_t want = 0;  // bytes the current read waits for

private:
    static size_t OnHeader(char *data, size_t size, size_t count, void *user);
    static size_t OnBody(char *data, size_t size, size_t count, void *user);
    bool StartHop();
    bool FollowRedirect();
    void EndHop();

    Target target;
    RequestHeaders headers;
    DWORD flags = 0;  // HttpOpenRequestA's
    Timeouts limits;
    std::atomic<bool> aborted{false};
    // When the last bytes came, while a caller waited for them.
    std::chrono::steady_clock::time_point lastHeard;
    std::mutex multiLock;  // Abort's wake-up against End's clean-up
    int hops = 0;
    bool redirectPending = false;  // this hop's answer is a redirect to follow
    CURLM *multi = nullptr;
    CURL *easy = nullptr;
    curl_slist *headerList = nullptr;
    std::string pending;  // body bytes not yet read: pending[head, size())
    size_t head = 0;
    bool paused = false;
};

}  // namespace marvostell::posix
