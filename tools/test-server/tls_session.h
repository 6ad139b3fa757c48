// The server side of TLS for the test server, on OpenSSL's libssl: a context
// holding one certificate chain and key, and a session per connection.
#pragma once

#include <memory>
#include <string>

#include <sys/types.h>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace marvostell::testing {

// PEM files: the server's certificate (followed by any intermediates) and its key.
struct TlsFiles {
    std::string certificate;
    std::string key;
};

class TlsSession {
public:
    explicit TlsSession(SSL *ssl) : ssl_(ssl) {}
    ~TlsSession();
    TlsSession(const TlsSession &) = delete;
    TlsSession &operator=(const TlsSession &) = delete;

    // As recv(): the bytes read, 0 at the end of the stream, -1 on an error.
    ssize_t Read(char *data, size_t size);
    // Sends all of it; false when the connection has failed.
    bool Write(const char *data, size_t size);
    // Sends close_notify, so that the peer sees an orderly end of the data.
    void Shutdown();

private:
    SSL *ssl_;
};

class TlsContext {
public:
    // Throws std::runtime_error when the files do not load or do not match.
    explicit TlsContext(const TlsFiles &files);
    ~TlsContext();
    TlsContext(const TlsContext &) = delete;
    TlsContext &operator=(const TlsContext &) = delete;

    // The server's handshake on a connected socket (blocking); null when the
    // client gives up or refuses the certificate. The socket stays the caller's.
    std::unique_ptr<TlsSession> Accept(int fd) const;

private:
    SSL_CTX *ctx_ = nullptr;
};

}  // namespace marvostell::testing
