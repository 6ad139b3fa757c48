// Certificates for trying TLS clients (the tests, and hosts through
// marvostell-test-server --make-certificates), made afresh with libcrypto: a
// test CA and server certificates that verify against it, or fail to in one
// way each. All are for the loopback server; the key is one P-256 key.
#pragma once

#include <string>

#include "tls_session.h"

namespace marvostell::testing {

struct TestCertificates {
    std::string ca;           // the test CA's certificate (PEM), for SSL_CERT_FILE
    TlsFiles trusted;         // 127.0.0.1, ::1 and localhost, issued by the test CA
    TlsFiles wrong_name;      // issued by the test CA for another host name only
    TlsFiles self_signed;     // the loopback names, signed by its own key
    TlsFiles unknown_issuer;  // the loopback names, issued by a CA nobody was given
    TlsFiles expired;         // the loopback names, issued by the test CA, ended yesterday
};

// Writes the files into dir (which must exist). Throws std::runtime_error.
TestCertificates MakeTestCertificates(const std::string &dir);

}  // namespace marvostell::testing
