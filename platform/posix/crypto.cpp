// SHA-256 and ECDSA P-256 on OpenSSL's libcrypto.
#include "platform/crypto.h"

#include <algorithm>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rand.h>

namespace marvostell::crypto {
namespace {

template <typename T, void (*Free)(T *)>
struct Owned {
    T *p = nullptr;
    ~Owned() {
        if (p) Free(p);
    }
};

// The public key of the uncompressed point 04 || X || Y on P-256.
EVP_PKEY *PublicKey(const uint8_t key[kP256KeyBytes]) {
    uint8_t point[1 + kP256KeyBytes] = {0x04};
    std::copy(key, key + kP256KeyBytes, point + 1);
    Owned<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free> build{OSSL_PARAM_BLD_new()};
    if (!build.p ||
        !OSSL_PARAM_BLD_push_utf8_string(build.p, OSSL_PKEY_PARAM_GROUP_NAME, "prime256v1", 0) ||
        !OSSL_PARAM_BLD_push_octet_string(build.p, OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point))
        return nullptr;
    Owned<OSSL_PARAM, OSSL_PARAM_free> params{OSSL_PARAM_BLD_to_param(build.p)};
    Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free> context{EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr)};
    EVP_PKEY *pkey = nullptr;
    if (!params.p || !context.p || EVP_PKEY_fromdata_init(context.p) <= 0 ||
        EVP_PKEY_fromdata(context.p, &pkey, EVP_PKEY_PUBLIC_KEY, params.p) <= 0)
        return nullptr;
    return pkey;
}

}  // namespace

struct CSha256::State {
    Owned<EVP_MD_CTX, EVP_MD_CTX_free> context{EVP_MD_CTX_new()};
    bool ok = false;
};

bool Available() { return true; }

CSha256::CSha256() : m_state(new State) {
    m_state->ok = m_state->context.p &&
                  EVP_DigestInit_ex(m_state->context.p, EVP_sha256(), nullptr) == 1;
}

CSha256::~CSha256() = default;

bool CSha256::Add(const void *data, size_t size) {
    m_state->ok = m_state->ok && EVP_DigestUpdate(m_state->context.p, data, size) == 1;
    return m_state->ok;
}

bool CSha256::Finish(uint8_t digest[kSha256Bytes]) {
    unsigned int length = 0;
    m_state->ok = m_state->ok && EVP_DigestFinal_ex(m_state->context.p, digest, &length) == 1 &&
                  length == kSha256Bytes;
    return m_state->ok;
}

// libcrypto decodes the point on the curve's field and checks that it lies
// on the curve; the public-key check asks for that explicitly.
KeyImport ImportP256PublicKey(const uint8_t key[kP256KeyBytes]) {
    Owned<EVP_PKEY, EVP_PKEY_free> pkey{PublicKey(key)};
    if (!pkey.p) return KeyImport::kRefused;
    Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free> context{EVP_PKEY_CTX_new(pkey.p, nullptr)};
    return context.p && EVP_PKEY_public_check(context.p) == 1 ? KeyImport::kImported
                                                                : KeyImport::kRefused;
}

bool VerifyP256(const uint8_t key[kP256KeyBytes], const uint8_t signature[kP256SignatureBytes],
                const uint8_t digest[kSha256Bytes]) {
    Owned<EVP_PKEY, EVP_PKEY_free> pkey{PublicKey(key)};
    if (!pkey.p) return false;
    // libcrypto takes the signature DER-encoded.
    Owned<ECDSA_SIG, ECDSA_SIG_free> sig{ECDSA_SIG_new()};
    BIGNUM *r = BN_bin2bn(signature, 32, nullptr);
    BIGNUM *s = BN_bin2bn(signature + 32, 32, nullptr);
    if (!sig.p || !r || !s || !ECDSA_SIG_set0(sig.p, r, s)) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    unsigned char *der = nullptr;
    const int derLength = i2d_ECDSA_SIG(sig.p, &der);
    if (derLength <= 0) return false;
    Owned<EVP_PKEY_CTX, EVP_PKEY_CTX_free> context{EVP_PKEY_CTX_new(pkey.p, nullptr)};
    const bool valid = context.p && EVP_PKEY_verify_init(context.p) == 1 &&
                       EVP_PKEY_CTX_set_signature_md(context.p, EVP_sha256()) == 1 &&
                       EVP_PKEY_verify(context.p, der, static_cast<size_t>(derLength), digest,
                                       kSha256Bytes) == 1;
    OPENSSL_free(der);
    return valid;
}

bool RandomBytes(void *out, size_t size) {
    return size <= 0x7FFFFFFF && RAND_bytes(static_cast<unsigned char *>(out), static_cast<int>(size)) == 1;
}

}  // namespace marvostell::crypto
