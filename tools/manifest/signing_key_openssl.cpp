// The platform's side of signing_key.h on Linux: OpenSSL's libcrypto makes
// the key, reads and writes its PEM (PKCS#8, and PBES2 when encrypted) and
// signs.
#include <cstring>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>

#include "signing_key.h"

namespace marvostell::tools {
namespace {

constexpr int kHalf = 32;  // bytes of X, Y, r and s on P-256

template <typename T, void (*Free)(T *)>
struct Owned {
    T *p = nullptr;
    ~Owned() {
        if (p) Free(p);
    }
};

// X then Y of the public point, each 32 bytes big-endian.
bool PublicKeyBytes(EVP_PKEY *key, uint8_t xy[2 * kHalf]) {
    BIGNUM *x = nullptr, *y = nullptr;
    const bool ok = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_X, &x) == 1 &&
                    EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_EC_PUB_Y, &y) == 1 &&
                    BN_bn2binpad(x, xy, kHalf) == kHalf && BN_bn2binpad(y, xy + kHalf, kHalf) == kHalf;
    BN_free(x);
    BN_free(y);
    return ok;
}

// libcrypto asks for a passphrase only when the key is encrypted; it never
// asks on the terminal.
struct PassphraseRequest {
    const std::string *passphrase = nullptr;
    bool asked = false;
};

int GivePassphrase(char *buffer, int size, int, void *context) {
    auto *request = static_cast<PassphraseRequest *>(context);
    request->asked = true;
    if (!request->passphrase || request->passphrase->size() > static_cast<size_t>(size)) return -1;
    std::memcpy(buffer, request->passphrase->data(), request->passphrase->size());
    return static_cast<int>(request->passphrase->size());
}

bool WriteEncrypted(BIO *pem, EVP_PKEY *key, const std::string &passphrase) {
    Owned<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free> info{EVP_PKEY2PKCS8(key)};
    if (!info.p) return false;
    // PBES2 with a random 16-byte salt; libcrypto's PRF for AES is HMAC-SHA256.
    Owned<X509_SIG, X509_SIG_free> encrypted{PKCS8_encrypt_ex(-1, EVP_aes_256_cbc(), passphrase.data(),
                                                              static_cast<int>(passphrase.size()), nullptr, 16,
                                                              static_cast<int>(kKeyIterations), info.p, nullptr,
                                                              nullptr)};
    return encrypted.p && PEM_write_bio_PKCS8(pem, encrypted.p) == 1;
}

}  // namespace

KeyStatus MakeKeyPem(const std::string *passphrase, std::string &pem, uint8_t publicKey[crypto::kP256KeyBytes]) {
    Owned<EVP_PKEY, EVP_PKEY_free> key{EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256")};
    Owned<BIO, BIO_free_all> out{BIO_new(BIO_s_mem())};
    if (!key.p || !out.p || !PublicKeyBytes(key.p, publicKey) ||
        !(passphrase ? WriteEncrypted(out.p, key.p, *passphrase)
                     : PEM_write_bio_PrivateKey(out.p, key.p, nullptr, nullptr, 0, nullptr, nullptr) == 1))
        return KeyStatus::kFailed;
    char *data = nullptr;
    const long size = BIO_get_mem_data(out.p, &data);
    pem.assign(data, static_cast<size_t>(size));
    return KeyStatus::kOk;
}

KeyStatus SignWithKeyPem(const std::string &pem, const std::string *passphrase, const std::string &bytes,
                         uint8_t signature[crypto::kP256SignatureBytes], uint8_t publicKey[crypto::kP256KeyBytes],
                         bool &encrypted) {
    Owned<EVP_PKEY, EVP_PKEY_free> key;
    PassphraseRequest request;
    request.passphrase = passphrase;
    {
        Owned<BIO, BIO_free_all> in{BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size()))};
        if (in.p) key.p = PEM_read_bio_PrivateKey(in.p, nullptr, GivePassphrase, &request);
    }
    encrypted = request.asked;
    if (!key.p)
        return !request.asked ? KeyStatus::kUnreadable
                              : passphrase ? KeyStatus::kWrongPassphrase : KeyStatus::kNoPassphrase;
    char group[32] = "";
    if (!EVP_PKEY_is_a(key.p, "EC")) return KeyStatus::kNotEc;
    if (EVP_PKEY_get_group_name(key.p, group, sizeof group, nullptr) != 1 ||
        (std::strcmp(group, "prime256v1") != 0 && std::strcmp(group, "P-256") != 0))
        return KeyStatus::kNotP256;
    Owned<EVP_MD_CTX, EVP_MD_CTX_free> context{EVP_MD_CTX_new()};
    unsigned char der[128];
    size_t derSize = sizeof der;
    if (!context.p || !PublicKeyBytes(key.p, publicKey) ||
        EVP_DigestSignInit(context.p, nullptr, EVP_sha256(), nullptr, key.p) != 1 ||
        EVP_DigestSign(context.p, der, &derSize, reinterpret_cast<const unsigned char *>(bytes.data()),
                       bytes.size()) != 1)
        return KeyStatus::kFailed;
    // libcrypto writes the DER form; the manifest carries r then s.
    const unsigned char *at = der;
    Owned<ECDSA_SIG, ECDSA_SIG_free> sig{d2i_ECDSA_SIG(nullptr, &at, static_cast<long>(derSize))};
    if (!sig.p || BN_bn2binpad(ECDSA_SIG_get0_r(sig.p), signature, kHalf) != kHalf ||
        BN_bn2binpad(ECDSA_SIG_get0_s(sig.p), signature + kHalf, kHalf) != kHalf)
        return KeyStatus::kFailed;
    return KeyStatus::kOk;
}

}  // namespace marvostell::tools
