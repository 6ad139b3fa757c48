#include "test_server.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace marvostell::testing {

namespace {

constexpr size_t kMaxHeaderBytes = 64 * 1024;

// Closes with RST (linger 0) or an orderly FIN.
void CloseSocket(int fd, bool reset) {
    if (reset) {
        linger lg{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
    }
    ::close(fd);
}

std::string Lower(std::string s) {
    for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Value of the first header called name (case-insensitive) in a raw request.
bool FindHeader(const std::string &raw, const std::string &name, std::string *value) {
    std::string wanted = Lower(name);
    size_t pos = raw.find("\r\n");
    while (pos != std::string::npos && pos + 2 < raw.size()) {
        size_t start = pos + 2;
        size_t end = raw.find("\r\n", start);
        if (end == std::string::npos || end == start) break;
        std::string line = raw.substr(start, end - start);
        size_t colon = line.find(':');
        if (colon != std::string::npos && Lower(line.substr(0, colon)) == wanted) {
            size_t v = line.find_first_not_of(" \t", colon + 1);
            *value = v == std::string::npos ? std::string() : line.substr(v);
            while (!value->empty() && (value->back() == ' ' || value->back() == '\t'))
                value->pop_back();
            return true;
        }
        pos = end;
    }
    return false;
}

// "bytes=N-" or "bytes=N-M" against a body of size bytes: the first and one
// past the last byte. False for any other form.
bool ParseRange(const std::string &value, uint64_t size, uint64_t *first, uint64_t *last,
                bool *satisfiable) {
    std::string v = Lower(value);
    if (v.compare(0, 6, "bytes=") != 0) return false;
    const char *p = v.c_str() + 6;
    char *end = nullptr;
    if (*p < '0' || *p > '9') return false;
    unsigned long long a = std::strtoull(p, &end, 10);
    if (*end != '-') return false;
    p = end + 1;
    unsigned long long b = size == 0 ? 0 : size - 1;
    if (*p != '\0') {
        b = std::strtoull(p, &end, 10);
        if (*end != '\0' || b < a) return false;
        if (b >= size && size > 0) b = size - 1;
    }
    *satisfiable = a < size;
    *first = a;
    *last = b + 1;
    return true;
}

}  // namespace

struct TestServer::Body {
    uint64_t size = 0;
    std::function<void(uint64_t offset, char *out, size_t n)> read;
};

struct TestServer::Connection {
    int fd = -1;
    std::thread thread;
    std::atomic<bool> finished{false};
    std::unique_ptr<TlsSession> tls;  // set after the handshake of a TLS server

    ssize_t Receive(char *data, size_t size) {
        if (tls) return tls->Read(data, size);
        ssize_t n;
        do n = ::recv(fd, data, size, 0);
        while (n < 0 && errno == EINTR);
        return n;
    }
    bool SendAll(const char *data, size_t size) {
        if (tls) return tls->Write(data, size);
        while (size > 0) {
            ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            data += n;
            size -= static_cast<size_t>(n);
        }
        return true;
    }
    bool SendAll(const std::string &text) { return SendAll(text.data(), text.size()); }
};

TestServer::TestServer(uint16_t port) { Listen(port); }

TestServer::TestServer(const TlsFiles &tls, uint16_t port)
    : tls_(std::make_unique<TlsContext>(tls)) {
    Listen(port);
}

void TestServer::Listen(uint16_t port) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) throw std::runtime_error("test server: socket failed");
    int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    socklen_t len = sizeof addr;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0 ||
        ::listen(listen_fd_, 64) != 0 ||
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr *>(&addr), &len) != 0 ||
        ::pipe2(wake_, O_CLOEXEC) != 0) {
        int err = errno;
        ::close(listen_fd_);
        throw std::runtime_error(std::string("test server: cannot listen: ") + std::strerror(err));
    }
    port_ = ntohs(addr.sin_port);
    listen6_fd_ = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in6 addr6{};
    addr6.sin6_family = AF_INET6;
    addr6.sin6_addr = in6addr_loopback;
    addr6.sin6_port = htons(port_);
    if (listen6_fd_ >= 0 &&
        (::setsockopt(listen6_fd_, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one) != 0 ||
         ::bind(listen6_fd_, reinterpret_cast<sockaddr *>(&addr6), sizeof addr6) != 0 ||
         ::listen(listen6_fd_, 64) != 0)) {
        ::close(listen6_fd_);
        listen6_fd_ = -1;  // no IPv6 here: IPv4 only
    }
    acceptor_ = std::thread(&TestServer::AcceptLoop, this);
    // Until the acceptor waits in its loop it may be allocating; a test that
    // forks must not copy an allocator lock that the thread holds (the
    // sanitizers' allocator has no fork handler to release it).
    std::unique_lock<std::mutex> lock(mutex_);
    stop_cv_.wait(lock, [this] { return accepting_; });
}

TestServer::~TestServer() { stop(); }

std::string TestServer::url(const std::string &path) const {
    return (tls_ ? "https://127.0.0.1:" : "http://127.0.0.1:") + std::to_string(port_) + path;
}

void TestServer::route(const std::string &path, Response response) {
    std::lock_guard<std::mutex> lock(mutex_);
    routes_[path] = std::move(response);
}

void TestServer::file(const std::string &path, std::string body) {
    Response r;
    r.body = std::move(body);
    r.ranges = true;
    route(path, std::move(r));
}

void TestServer::serve_directory(const std::string &root) {
    std::lock_guard<std::mutex> lock(mutex_);
    root_ = root;
}

std::vector<std::string> TestServer::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void TestServer::clear_requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

void TestServer::on_request(std::function<void(const std::string &)> callback) {
    std::lock_guard<std::mutex> lock(mutex_);
    callback_ = std::move(callback);
}

void TestServer::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ && !acceptor_.joinable()) return;
        stopping_ = true;
        for (auto &c : connections_) ::shutdown(c->fd, SHUT_RDWR);
    }
    stop_cv_.notify_all();
    if (wake_[1] >= 0) {
        char b = 0;
        ssize_t ignored = ::write(wake_[1], &b, 1);
        (void)ignored;
    }
    if (acceptor_.joinable()) acceptor_.join();
    // The acceptor has stopped adding connections; cut and join the rest.
    std::vector<std::unique_ptr<Connection>> rest;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        rest.swap(connections_);
        for (auto &c : rest) ::shutdown(c->fd, SHUT_RDWR);
    }
    for (auto &c : rest) {
        if (c->thread.joinable()) c->thread.join();
    }
    if (listen_fd_ >= 0) ::close(listen_fd_);
    if (listen6_fd_ >= 0) ::close(listen6_fd_);
    listen6_fd_ = -1;
    for (int &fd : wake_) {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    listen_fd_ = -1;
}

// Waits ms milliseconds; false when the server is stopping.
bool TestServer::Pause(int ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return !stop_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

void TestServer::AcceptLoop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        accepting_ = true;
    }
    stop_cv_.notify_all();
    for (;;) {
        pollfd fds[3] = {{wake_[0], POLLIN, 0}, {listen_fd_, POLLIN, 0}, {listen6_fd_, POLLIN, 0}};
        if (::poll(fds, listen6_fd_ >= 0 ? 3 : 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents != 0) return;
        const int listener = fds[1].revents != 0 ? listen_fd_ : listen6_fd_;
        int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        // Reap connections that have ended.
        for (auto it = connections_.begin(); it != connections_.end();) {
            if ((*it)->finished) {
                (*it)->thread.join();
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
        auto c = std::make_unique<Connection>();
        c->fd = fd;
        Connection *raw = c.get();
        connections_.push_back(std::move(c));
        raw->thread = std::thread(&TestServer::Serve, this, raw);
    }
}

void TestServer::Serve(Connection *connection) {
    const int fd = connection->fd;
    std::string buffer;
    bool keep = true;
    bool reset = false;
    if (tls_) {
        // libssl writes with write(): a peer gone away must fail the write
        // (EPIPE), not end the test process with SIGPIPE.
        sigset_t pipe;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, nullptr);
        connection->tls = tls_->Accept(fd);
        keep = connection->tls != nullptr;
    }
    while (keep) {
        size_t end;
        while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
            if (buffer.size() > kMaxHeaderBytes) {
                keep = false;
                break;
            }
            char chunk[4096];
            ssize_t n = connection->Receive(chunk, sizeof chunk);
            if (n <= 0) {
                keep = false;
                break;
            }
            buffer.append(chunk, static_cast<size_t>(n));
        }
        if (!keep) break;
        std::string raw = buffer.substr(0, end + 4);
        buffer.erase(0, end + 4);
        std::function<void(const std::string &)> callback;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(raw);
            callback = callback_;
        }
        if (callback) callback(raw);

        // Discard a request body.
        std::string length;
        if (FindHeader(raw, "Content-Length", &length)) {
            size_t want = std::strtoull(length.c_str(), nullptr, 10);
            while (buffer.size() < want) {
                char chunk[4096];
                ssize_t n = connection->Receive(chunk, sizeof chunk);
                if (n <= 0) break;
                buffer.append(chunk, static_cast<size_t>(n));
            }
            buffer.erase(0, std::min(want, buffer.size()));
        }
        keep = Answer(connection, raw, &reset);
    }
    // Let the peer see the end of our data before the close.
    if (!reset) {
        if (connection->tls) connection->tls->Shutdown();
        ::shutdown(fd, SHUT_WR);
    }
    connection->tls.reset();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        CloseSocket(fd, reset);
        connection->fd = -1;
    }
    connection->finished = true;
}

Response TestServer::Lookup(const std::string &target, std::shared_ptr<Body> *body) {
    Response r;
    std::string root;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = routes_.find(target);
        if (it == routes_.end()) it = routes_.find(target.substr(0, target.find('?')));
        if (it != routes_.end()) r = it->second;
        else root = root_;
        if (it != routes_.end()) root.clear();
        if (it == routes_.end() && root.empty()) {
            r.status = 404;
            r.reason = "Not Found";
            r.body = "not found\n";
        }
    }
    auto b = std::make_shared<Body>();
    std::string disk = r.file;
    if (!root.empty()) {
        const std::string path = target.substr(0, target.find('?'));
        if (path.find("..") == std::string::npos && !path.empty() && path[0] == '/')
            disk = root + path;
        r.ranges = true;
    }
    if (!root.empty() || !disk.empty()) {
        struct stat st;
        int file = disk.empty() ? -1 : ::open(disk.c_str(), O_RDONLY | O_CLOEXEC);
        if (file >= 0 && ::fstat(file, &st) == 0 && S_ISREG(st.st_mode)) {
            b->size = static_cast<uint64_t>(st.st_size);
            auto owner = std::shared_ptr<int>(new int(file), [](int *f) {
                ::close(*f);
                delete f;
            });
            b->read = [owner](uint64_t offset, char *out, size_t n) {
                ssize_t got = ::pread(*owner, out, n, static_cast<off_t>(offset));
                if (got < 0) got = 0;
                std::memset(out + got, 0, n - static_cast<size_t>(got));
            };
            *body = b;
            return r;
        }
        if (file >= 0) ::close(file);
        r.pattern_size = 0;  // the route's faults stay, its body is the 404's
        r.ranges = false;
        r.status = 404;
        r.reason = "Not Found";
        r.body = "not found\n";
    }
    if (r.pattern_size > 0) {
        b->size = r.pattern_size;
        b->read = [](uint64_t offset, char *out, size_t n) {
            for (size_t i = 0; i < n; ++i) out[i] = PatternByte(offset + i);
        };
    } else {
        auto text = std::make_shared<std::string>(std::move(r.body));
        r.body.clear();
        b->size = text->size();
        b->read = [text](uint64_t offset, char *out, size_t n) {
            std::memcpy(out, text->data() + offset, n);
        };
    }
    *body = b;
    return r;
}

// Sends the answer to one request; false when the connection is to be closed.
// *reset is set when that close must be a RST.
bool TestServer::Answer(Connection *peer, const std::string &raw, bool *reset) {
    size_t sp1 = raw.find(' ');
    size_t sp2 = sp1 == std::string::npos ? std::string::npos : raw.find(' ', sp1 + 1);
    std::string method = raw.substr(0, sp1);
    std::string target =
        sp2 == std::string::npos ? std::string("/") : raw.substr(sp1 + 1, sp2 - sp1 - 1);

    std::shared_ptr<Body> body;
    Response r = Lookup(target, &body);
    *reset = r.reset;
    if (r.abort_before_headers) return false;
    *reset = false;
    if (r.head_delay_ms > 0 && !Pause(r.head_delay_ms)) return false;

    uint64_t first = 0, last = body->size;
    std::string head;
    std::string range;
    int status = r.status;
    std::string reason = r.reason;
    std::string contentRange;
    bool satisfiable = false;
    if (r.ranges && FindHeader(raw, "Range", &range) &&
        ParseRange(range, body->size, &first, &last, &satisfiable)) {
        if (satisfiable) {
            status = 206;
            reason = "Partial Content";
            contentRange = "Content-Range: bytes " + std::to_string(first) + "-" +
                           std::to_string(last - 1) + "/" + std::to_string(body->size);
        } else {
            status = 416;
            reason = "Range Not Satisfiable";
            contentRange = "Content-Range: bytes */" + std::to_string(body->size);
            first = last = 0;
            body->size = 0;
        }
    }
    const uint64_t length = last - first;
    uint64_t toSend = length;
    if (r.drop_after >= 0 && static_cast<uint64_t>(r.drop_after) < toSend)
        toSend = static_cast<uint64_t>(r.drop_after);
    const bool head_only = method == "HEAD";
    std::string connection;
    bool close = r.close || r.drop_after >= 0 ||
                 (FindHeader(raw, "Connection", &connection) && Lower(connection) == "close") ||
                 (r.declared_length >= 0 && static_cast<uint64_t>(r.declared_length) != length);
    if (head_only) toSend = 0;
    *reset = r.reset && close;

    head = "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\n";
    if (r.chunked) head += "Transfer-Encoding: chunked\r\n";
    else
        head += "Content-Length: " +
                std::to_string(r.declared_length >= 0 ? static_cast<uint64_t>(r.declared_length)
                                                      : length) +
                "\r\n";
    if (!contentRange.empty()) head += contentRange + "\r\n";
    if (r.ranges) head += "Accept-Ranges: bytes\r\n";
    for (const std::string &h : r.headers) head += h + "\r\n";
    if (close) head += "Connection: close\r\n";
    head += "\r\n";
    if (!peer->SendAll(head)) return false;
    if (r.body_delay_ms > 0 && !Pause(r.body_delay_ms)) return false;

    const size_t piece = r.trickle_piece > 0 ? r.trickle_piece : 64 * 1024;
    std::vector<char> data(piece);
    uint64_t sent = 0;
    while (sent < toSend) {
        if (sent > 0 && r.trickle_piece > 0 && r.trickle_delay_ms > 0 &&
            !Pause(r.trickle_delay_ms))
            return false;
        size_t n = static_cast<size_t>(std::min<uint64_t>(piece, toSend - sent));
        body->read(first + sent, data.data(), n);
        if (r.chunked) {
            char size_line[32];
            std::snprintf(size_line, sizeof size_line, "%zx\r\n", n);
            if (!peer->SendAll(size_line) || !peer->SendAll(data.data(), n) ||
                !peer->SendAll("\r\n"))
                return false;
        } else if (!peer->SendAll(data.data(), n)) {
            return false;
        }
        sent += n;
    }
    if (r.chunked && !head_only && sent == length && !peer->SendAll("0\r\n\r\n"))
        return false;
    return !close;
}

}  // namespace marvostell::testing
