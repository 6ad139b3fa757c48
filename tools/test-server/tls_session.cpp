#include "tls_session.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace marvostell::testing {

namespace {

std::string LastSslError() {
    char text[256] = "unknown error";
    if (unsigned long e = ERR_get_error()) ERR_error_string_n(e, text, sizeof text);
    ERR_clear_error();
    return text;
}

}  // namespace

TlsSession::~TlsSession() { SSL_free(ssl_); }

ssize_t TlsSession::Read(char *data, size_t size) {
    const int n = SSL_read(ssl_, data, static_cast<int>(std::min<size_t>(size, INT_MAX)));
    if (n > 0) return n;
    const int reason = SSL_get_error(ssl_, n);
    ERR_clear_error();  // the queue is per thread; leave it clean for the next session
    return reason == SSL_ERROR_ZERO_RETURN ? 0 : -1;
}

bool TlsSession::Write(const char *data, size_t size) {
    while (size > 0) {
        const int n = SSL_write(ssl_, data, static_cast<int>(std::min<size_t>(size, INT_MAX)));
        if (n <= 0) {
            ERR_clear_error();
            return false;
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void TlsSession::Shutdown() {
    SSL_shutdown(ssl_);
    ERR_clear_error();
}

TlsContext::TlsContext(const TlsFiles &files) {
    ctx_ = SSL_CTX_new(TLS_server_method());
    if (ctx_ == nullptr) throw std::runtime_error("test server: " + LastSslError());
    if (SSL_CTX_use_certificate_chain_file(ctx_, files.certificate.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx_, files.key.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(ctx_) != 1) {
        const std::string error = LastSslError();
        SSL_CTX_free(ctx_);
        throw std::runtime_error("test server: cannot load " + files.certificate + ": " + error);
    }
}

TlsContext::~TlsContext() { SSL_CTX_free(ctx_); }

std::unique_ptr<TlsSession> TlsContext::Accept(int fd) const {
    SSL *ssl = SSL_new(ctx_);
    if (ssl == nullptr) return nullptr;
    auto session = std::make_unique<TlsSession>(ssl);
    if (SSL_set_fd(ssl, fd) != 1 || SSL_accept(ssl) != 1) {
        ERR_clear_error();
        return nullptr;
    }
    return session;
}

}  // namespace marvostell::testing
