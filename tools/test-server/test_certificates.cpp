#include "test_certificates.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace marvostell::testing {

namespace {

struct Free {
    void operator()(EVP_PKEY *key) const { EVP_PKEY_free(key); }
    void operator()(X509 *cert) const { X509_free(cert); }
    void operator()(X509_EXTENSION *ext) const { X509_EXTENSION_free(ext); }
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using Key = std::unique_ptr<EVP_PKEY, Free>;
using Cert = std::unique_ptr<X509, Free>;

constexpr long kDay = 24 * 60 * 60;
constexpr const char *kLoopbackNames = "IP:127.0.0.1,IP:::1,DNS:localhost";

[[noreturn]] void Fail(const std::string &what) {
    char text[256] = "";
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    ERR_clear_error();
    throw std::runtime_error("test certificates: " + what + ": " + text);
}

Key NewKey() {
    Key key(EVP_EC_gen("P-256"));
    if (!key) Fail("key generation");
    return key;
}

struct Profile {
    const char *commonName;
    const char *altNames = nullptr;  // subjectAltName, or none
    bool ca = false;
    long validFrom = -kDay;  // seconds from now
    long validTo = 30 * kDay;
};

void AddExtension(X509 *cert, X509V3_CTX *ctx, int nid, const char *value) {
    std::unique_ptr<X509_EXTENSION, Free> ext(X509V3_EXT_conf_nid(nullptr, ctx, nid, value));
    if (!ext || X509_add_ext(cert, ext.get(), -1) != 1) Fail(value);
}

// A certificate for key, signed by issuerKey in the name of issuer; a null
// issuer makes it self-signed.
Cert Issue(const Profile &p, EVP_PKEY *key, X509 *issuer, EVP_PKEY *issuerKey) {
    static std::atomic<long> serial{1};
    Cert cert(X509_new());
    if (!cert) Fail("X509_new");
    X509 *x = cert.get();
    X509_NAME *name = X509_get_subject_name(x);
    X509_set_version(x, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(x), serial++);
    X509_gmtime_adj(X509_getm_notBefore(x), p.validFrom);
    X509_gmtime_adj(X509_getm_notAfter(x), p.validTo);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>("Marvostell tests"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char *>(p.commonName), -1, -1, 0);
    X509_set_issuer_name(x, issuer ? X509_get_subject_name(issuer) : name);
    X509_set_pubkey(x, key);

    X509V3_CTX ctx;
    X509V3_set_ctx(&ctx, issuer ? issuer : x, x, nullptr, nullptr, 0);
    AddExtension(x, &ctx, NID_basic_constraints, p.ca ? "critical,CA:TRUE" : "critical,CA:FALSE");
    AddExtension(x, &ctx, NID_key_usage,
                 p.ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
    AddExtension(x, &ctx, NID_subject_key_identifier, "hash");
    AddExtension(x, &ctx, NID_authority_key_identifier, "keyid:always");
    if (!p.ca) AddExtension(x, &ctx, NID_ext_key_usage, "serverAuth");
    if (p.altNames) AddExtension(x, &ctx, NID_subject_alt_name, p.altNames);
    if (X509_sign(x, issuerKey ? issuerKey : key, EVP_sha256()) == 0) Fail("signing");
    return cert;
}

std::unique_ptr<std::FILE, Free> Create(const std::string &path) {
    std::unique_ptr<std::FILE, Free> file(std::fopen(path.c_str(), "wb"));
    if (!file) throw std::runtime_error("test certificates: cannot write " + path);
    return file;
}

std::string Write(const std::string &path, X509 *cert) {
    if (PEM_write_X509(Create(path).get(), cert) != 1) Fail(path);
    return path;
}

std::string Write(const std::string &path, EVP_PKEY *key) {
    if (PEM_write_PrivateKey(Create(path).get(), key, nullptr, nullptr, 0, nullptr, nullptr) != 1)
        Fail(path);
    return path;
}

}  // namespace

TestCertificates MakeTestCertificates(const std::string &dir) {
    const Key caKey = NewKey(), otherCaKey = NewKey(), serverKey = NewKey();
    const Cert ca = Issue({"Marvostell test CA", nullptr, true}, caKey.get(), nullptr, nullptr);
    const Cert otherCa =
        Issue({"Marvostell other CA", nullptr, true}, otherCaKey.get(), nullptr, nullptr);

    TestCertificates out;
    out.ca = Write(dir + "/ca.pem", ca.get());
    const std::string key = Write(dir + "/server.key", serverKey.get());
    const auto leaf = [&](const char *file, const Profile &p, X509 *issuer, EVP_PKEY *issuerKey) {
        const Cert cert = Issue(p, serverKey.get(), issuer, issuerKey);
        return TlsFiles{Write(dir + "/" + file, cert.get()), key};
    };
    out.trusted = leaf("trusted.pem", {"127.0.0.1", kLoopbackNames}, ca.get(), caKey.get());
    out.wrong_name = leaf("wrong-name.pem", {"elsewhere.invalid", "DNS:elsewhere.invalid"},
                          ca.get(), caKey.get());
    out.self_signed = leaf("self-signed.pem", {"127.0.0.1", kLoopbackNames}, nullptr, nullptr);
    out.unknown_issuer =
        leaf("unknown-issuer.pem", {"127.0.0.1", kLoopbackNames}, otherCa.get(), otherCaKey.get());
    out.expired = leaf("expired.pem", {"127.0.0.1", kLoopbackNames, false, -3 * kDay, -kDay},
                       ca.get(), caKey.get());
    return out;
}

}  // namespace marvostell::testing
