// A small HTTP/1.1 server for tests: loopback only, scripted answers per path,
// every raw request recorded. Runs its own accept thread and one thread per
// connection; keep-alive and sequential connections both work. Optionally
// HTTPS: each connection then starts with a TLS handshake (tls_session.h).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tls_session.h"

namespace marvostell::testing {

// Byte i of a generated body (Response::pattern_size): large bodies without
// holding them in memory, checkable by the reader.
inline char PatternByte(uint64_t i) {
    return static_cast<char>((i * 131u + (i >> 13)) & 0xffu);
}

// What the server answers on one path.
struct Response {
    int status = 200;
    std::string reason = "OK";
    std::string body;
    // When non-zero the body is this many PatternByte() bytes instead of `body`.
    uint64_t pattern_size = 0;
    // When set the body is this file's bytes, read as each request is answered
    // (so a large package is never held in memory); missing, the answer is 404.
    std::string file;
    // Extra header lines, each "Name: value" without line end.
    std::vector<std::string> headers;
    // Honour "Range: bytes=N-" (and "bytes=N-M") with 206 and Content-Range;
    // off means a range is ignored and the whole body comes with the status.
    bool ranges = false;
    // Transfer-Encoding: chunked instead of Content-Length.
    bool chunked = false;
    // Content-Length to declare; -1 declares the real length. A smaller value
    // sends extra bytes past the declared end, a larger one a short body; in
    // both cases the connection is closed after the body.
    int64_t declared_length = -1;
    // Close the connection after this many body bytes (-1: send them all).
    int64_t drop_after = -1;
    // Close the connection after reading the request, before any answer.
    bool abort_before_headers = false;
    // Closing early (drop, abort, short body) sends RST instead of FIN.
    bool reset = false;
    // Send the body in pieces of trickle_piece bytes with trickle_delay_ms
    // between them (0: all at once). With chunked, each piece is one chunk.
    size_t trickle_piece = 0;
    int trickle_delay_ms = 0;
    // Pause this long after the headers, before the first body byte.
    int body_delay_ms = 0;
    // Pause this long before the status line: a server that takes the request
    // and stays silent (a stalled answer).
    int head_delay_ms = 0;
    // Answer with "Connection: close" and close after the response.
    bool close = false;
};

class TestServer {
public:
    // Listens on 127.0.0.1:port (0 picks a free port), and on [::1] at the
    // same port where IPv6 is available, and starts serving. Throws
    // std::runtime_error when the IPv4 socket cannot be set up.
    explicit TestServer(uint16_t port = 0);
    // The same, serving HTTPS with this certificate and key. Throws
    // std::runtime_error when they do not load.
    explicit TestServer(const TlsFiles &tls, uint16_t port = 0);
    ~TestServer();
    TestServer(const TestServer &) = delete;
    TestServer &operator=(const TestServer &) = delete;

    uint16_t port() const { return port_; }
    // Whether [::1]:port() is served too.
    bool ipv6() const { return listen6_fd_ >= 0; }
    bool tls() const { return tls_ != nullptr; }
    // "http://127.0.0.1:<port>" (https:// for a TLS server) followed by path.
    std::string url(const std::string &path) const;

    // Routes match the request target exactly, or else the target without its
    // query. A later route for the same path replaces the earlier one.
    void route(const std::string &path, Response response);
    // A file-like route: status 200, ranges honoured.
    void file(const std::string &path, std::string body);
    // Paths with no route are looked up as files under root (ranges honoured).
    void serve_directory(const std::string &root);

    // Each request line and its headers exactly as received, blank line included.
    std::vector<std::string> requests() const;
    void clear_requests();
    // Called on a connection thread with each raw request as it is recorded.
    void on_request(std::function<void(const std::string &)> callback);

    // Stops accepting, cuts open connections and joins the threads.
    void stop();

private:
    struct Connection;
    struct Body;

    void Listen(uint16_t port);
    void AcceptLoop();
    void Serve(Connection *connection);
    bool Answer(Connection *peer, const std::string &raw, bool *reset);
    Response Lookup(const std::string &target, std::shared_ptr<Body> *body);
    bool Pause(int ms);

    std::unique_ptr<TlsContext> tls_;
    uint16_t port_ = 0;
    int listen_fd_ = -1;
    int listen6_fd_ = -1;
    int wake_[2] = {-1, -1};
    std::thread acceptor_;

    mutable std::mutex mutex_;
    std::condition_variable stop_cv_;
    bool stopping_ = false;
    bool accepting_ = false;  // the acceptor has reached its loop
    std::map<std::string, Response> routes_;
    std::string root_;
    std::vector<std::string> requests_;
    std::function<void(const std::string &)> callback_;
    std::vector<std::unique_ptr<Connection>> connections_;
};

}  // namespace marvostell::testing
