// SHA-256, ECDSA P-256 and random bytes on CNG. bcrypt.dll is loaded from
// the system directory on first use, so that the DLL's import table stays as
// it is and hosts that never pass keys nor meet a staged release never load it.
#include "platform/crypto.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "platform/win32/bcrypt_library.h"

namespace marvostell::crypto {
namespace {

struct Cng {
    decltype(&BCryptOpenAlgorithmProvider) open = nullptr;
    decltype(&BCryptCloseAlgorithmProvider) close = nullptr;
    decltype(&BCryptCreateHash) createHash = nullptr;
    decltype(&BCryptHashData) hashData = nullptr;
    decltype(&BCryptFinishHash) finishHash = nullptr;
    decltype(&BCryptDestroyHash) destroyHash = nullptr;
    decltype(&BCryptImportKeyPair) importKey = nullptr;
    decltype(&BCryptVerifySignature) verify = nullptr;
    decltype(&BCryptDestroyKey) destroyKey = nullptr;
    decltype(&BCryptGenRandom) genRandom = nullptr;
    bool loaded = false;
};

// Loaded once per process and kept: hosts may call from any thread.
const Cng &Library() {
    static const Cng cng = [] {
        Cng c;
        c.loaded = ResolveBcrypt("BCryptOpenAlgorithmProvider", c.open) &&
                   ResolveBcrypt("BCryptCloseAlgorithmProvider", c.close) &&
                   ResolveBcrypt("BCryptCreateHash", c.createHash) &&
                   ResolveBcrypt("BCryptHashData", c.hashData) &&
                   ResolveBcrypt("BCryptFinishHash", c.finishHash) &&
                   ResolveBcrypt("BCryptDestroyHash", c.destroyHash) &&
                   ResolveBcrypt("BCryptImportKeyPair", c.importKey) &&
                   ResolveBcrypt("BCryptVerifySignature", c.verify) &&
                   ResolveBcrypt("BCryptDestroyKey", c.destroyKey) &&
                   ResolveBcrypt("BCryptGenRandom", c.genRandom);
        return c;
    }();
    return cng;
}

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

struct CSha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = false;
};

bool Available() { return Library().loaded; }

CSha256::CSha256() : m_state(new State) {
    const Cng &cng = Library();
    m_state->ok = cng.loaded &&
                  Succeeded(cng.open(&m_state->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0)) &&
                  Succeeded(cng.createHash(m_state->algorithm, &m_state->hash, nullptr, 0, nullptr,
                                           0, 0));
}

CSha256::~CSha256() {
    const Cng &cng = Library();
    if (m_state->hash) cng.destroyHash(m_state->hash);
    if (m_state->algorithm) cng.close(m_state->algorithm, 0);
}

bool CSha256::Add(const void *data, size_t size) {
    const auto *bytes = static_cast<const UCHAR *>(data);
    while (m_state->ok && size > 0) {
        const ULONG piece = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
        m_state->ok = Succeeded(Library().hashData(m_state->hash, const_cast<UCHAR *>(bytes), piece, 0));
        bytes += piece;
        size -= piece;
    }
    return m_state->ok;
}

bool CSha256::Finish(uint8_t digest[kSha256Bytes]) {
    m_state->ok = m_state->ok && Succeeded(Library().finishHash(m_state->hash, digest, kSha256Bytes, 0));
    return m_state->ok;
}

namespace {

// The ECDSA P-256 provider and a public key imported into it. Windows
// validates the public point on import unless BCRYPT_NO_KEY_VALIDATION is
// given (Wine 8 does not, and accepts a point off the curve).
struct ImportedKey {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    KeyImport result = KeyImport::kUnavailable;

    explicit ImportedKey(const uint8_t bytes[kP256KeyBytes]) {
        const Cng &cng = Library();
        if (!cng.loaded || !Succeeded(cng.open(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0)))
            return;
        UCHAR blob[sizeof(BCRYPT_ECCKEY_BLOB) + kP256KeyBytes];
        BCRYPT_ECCKEY_BLOB header = {BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
        std::memcpy(blob, &header, sizeof header);
        std::memcpy(blob + sizeof header, bytes, kP256KeyBytes);
        result = Succeeded(cng.importKey(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob,
                                         sizeof blob, 0))
                     ? KeyImport::kImported
                     : KeyImport::kRefused;
    }
    ~ImportedKey() {
        if (key) Library().destroyKey(key);
        if (algorithm) Library().close(algorithm, 0);
    }
    ImportedKey(const ImportedKey &) = delete;
    ImportedKey &operator=(const ImportedKey &) = delete;
};

}  // namespace

KeyImport ImportP256PublicKey(const uint8_t key[kP256KeyBytes]) { return ImportedKey(key).result; }

bool VerifyP256(const uint8_t key[kP256KeyBytes], const uint8_t signature[kP256SignatureBytes],
                const uint8_t digest[kSha256Bytes]) {
    const ImportedKey publicKey(key);
    // CNG takes the signature as r then s, as the manifest carries it.
    return publicKey.result == KeyImport::kImported &&
           Succeeded(Library().verify(publicKey.key, nullptr, const_cast<UCHAR *>(digest),
                                      kSha256Bytes, const_cast<UCHAR *>(signature),
                                      kP256SignatureBytes, 0));
}

bool RandomBytes(void *out, size_t size) {
    const Cng &cng = Library();
    return cng.loaded && size == static_cast<ULONG>(size) &&
           Succeeded(cng.genRandom(nullptr, static_cast<PUCHAR>(out), static_cast<ULONG>(size),
                                   BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

}  // namespace marvostell::crypto
