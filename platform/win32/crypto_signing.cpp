// The signing side of platform/crypto.h on CNG, for the Windows tools: P-256
// keys made and used by BCryptGenerateKeyPair and BCryptSignHash, PBKDF2 and
// AES-CBC for encrypted key files, from the same bcrypt.dll as the module's.
#include "platform/crypto.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstring>

#include "platform/win32/bcrypt_library.h"

namespace marvostell::crypto::signing {
namespace {

struct Cng {
    decltype(&BCryptOpenAlgorithmProvider) open = nullptr;
    decltype(&BCryptCloseAlgorithmProvider) close = nullptr;
    decltype(&BCryptSetProperty) setProperty = nullptr;
    decltype(&BCryptGenerateKeyPair) generateKeyPair = nullptr;
    decltype(&BCryptFinalizeKeyPair) finalizeKeyPair = nullptr;
    decltype(&BCryptExportKey) exportKey = nullptr;
    decltype(&BCryptImportKeyPair) importKeyPair = nullptr;
    decltype(&BCryptSignHash) signHash = nullptr;
    decltype(&BCryptDeriveKeyPBKDF2) pbkdf2 = nullptr;
    decltype(&BCryptGenerateSymmetricKey) symmetricKey = nullptr;
    decltype(&BCryptEncrypt) encrypt = nullptr;
    decltype(&BCryptDecrypt) decrypt = nullptr;
    decltype(&BCryptDestroyKey) destroyKey = nullptr;
    bool loaded = false;
};

const Cng &Library() {
    static const Cng cng = [] {
        Cng c;
        c.loaded = ResolveBcrypt("BCryptOpenAlgorithmProvider", c.open) &&
                   ResolveBcrypt("BCryptCloseAlgorithmProvider", c.close) &&
                   ResolveBcrypt("BCryptSetProperty", c.setProperty) &&
                   ResolveBcrypt("BCryptGenerateKeyPair", c.generateKeyPair) &&
                   ResolveBcrypt("BCryptFinalizeKeyPair", c.finalizeKeyPair) &&
                   ResolveBcrypt("BCryptExportKey", c.exportKey) &&
                   ResolveBcrypt("BCryptImportKeyPair", c.importKeyPair) &&
                   ResolveBcrypt("BCryptSignHash", c.signHash) &&
                   ResolveBcrypt("BCryptDeriveKeyPBKDF2", c.pbkdf2) &&
                   ResolveBcrypt("BCryptGenerateSymmetricKey", c.symmetricKey) &&
                   ResolveBcrypt("BCryptEncrypt", c.encrypt) &&
                   ResolveBcrypt("BCryptDecrypt", c.decrypt) &&
                   ResolveBcrypt("BCryptDestroyKey", c.destroyKey);
        return c;
    }();
    return cng;
}

bool Succeeded(NTSTATUS status) { return status >= 0; }

// An algorithm provider and a key on it, closed in reverse order.
struct Handles {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;

    bool Open(LPCWSTR name, ULONG flags = 0) {
        return Library().loaded && Succeeded(Library().open(&algorithm, name, nullptr, flags));
    }
    ~Handles() {
        if (key) Library().destroyKey(key);
        if (algorithm) Library().close(algorithm, 0);
    }
};

// BCRYPT_ECCPRIVATE_BLOB: the header, then X, Y and d.
struct P256PrivateBlob {
    BCRYPT_ECCKEY_BLOB header;
    UCHAR xy[kP256KeyBytes];
    UCHAR d[kP256PrivateKeyBytes];
};

void Wipe(void *data, size_t size) { SecureZeroMemory(data, size); }

}  // namespace

bool MakeP256(uint8_t privateKey[kP256PrivateKeyBytes], uint8_t publicKey[kP256KeyBytes]) {
    Handles h;
    P256PrivateBlob blob;
    ULONG size = 0;
    const bool ok = h.Open(BCRYPT_ECDSA_P256_ALGORITHM) &&
                    Succeeded(Library().generateKeyPair(h.algorithm, &h.key, 256, 0)) &&
                    Succeeded(Library().finalizeKeyPair(h.key, 0)) &&
                    Succeeded(Library().exportKey(h.key, nullptr, BCRYPT_ECCPRIVATE_BLOB,
                                                  reinterpret_cast<PUCHAR>(&blob), sizeof blob, &size, 0)) &&
                    size == sizeof blob && blob.header.dwMagic == BCRYPT_ECDSA_PRIVATE_P256_MAGIC &&
                    blob.header.cbKey == kP256PrivateKeyBytes;
    if (ok) {
        std::memcpy(publicKey, blob.xy, kP256KeyBytes);
        std::memcpy(privateKey, blob.d, kP256PrivateKeyBytes);
    }
    Wipe(&blob, sizeof blob);
    return ok;
}

bool SignP256(const uint8_t privateKey[kP256PrivateKeyBytes], const uint8_t publicKey[kP256KeyBytes],
              const uint8_t digest[kSha256Bytes], uint8_t signature[kP256SignatureBytes]) {
    Handles h;
    P256PrivateBlob blob;
    blob.header = {BCRYPT_ECDSA_PRIVATE_P256_MAGIC, kP256PrivateKeyBytes};
    std::memcpy(blob.xy, publicKey, kP256KeyBytes);
    std::memcpy(blob.d, privateKey, kP256PrivateKeyBytes);
    ULONG size = 0;
    // CNG gives r then s, as the manifest carries them.
    const bool ok = h.Open(BCRYPT_ECDSA_P256_ALGORITHM) &&
                    Succeeded(Library().importKeyPair(h.algorithm, nullptr, BCRYPT_ECCPRIVATE_BLOB, &h.key,
                                                      reinterpret_cast<PUCHAR>(&blob), sizeof blob, 0)) &&
                    Succeeded(Library().signHash(h.key, nullptr, const_cast<PUCHAR>(digest), kSha256Bytes,
                                                 signature, kP256SignatureBytes, &size, 0)) &&
                    size == kP256SignatureBytes;
    Wipe(&blob, sizeof blob);
    return ok;
}

bool Pbkdf2Sha256(const void *passphrase, size_t passphraseSize, const uint8_t *salt, size_t saltSize,
                  uint32_t iterations, uint8_t *key, size_t keySize) {
    Handles h;
    return passphraseSize <= 0xFFFFFFFFu && saltSize <= 0xFFFFFFFFu && keySize <= 0xFFFFFFFFu &&
           h.Open(BCRYPT_SHA256_ALGORITHM, BCRYPT_ALG_HANDLE_HMAC_FLAG) &&
           Succeeded(Library().pbkdf2(h.algorithm, static_cast<PUCHAR>(const_cast<void *>(passphrase)),
                                      static_cast<ULONG>(passphraseSize), const_cast<PUCHAR>(salt),
                                      static_cast<ULONG>(saltSize), iterations, key, static_cast<ULONG>(keySize), 0));
}

bool AesCbc(bool encrypt, const uint8_t *key, size_t keySize, const uint8_t iv[kAesBlockBytes], const uint8_t *in,
            size_t size, uint8_t *out, size_t &outSize) {
    Handles h;
    // CNG moves the IV on as it goes: it gets a copy.
    UCHAR chain[kAesBlockBytes];
    std::memcpy(chain, iv, kAesBlockBytes);
    ULONG written = 0;
    const ULONG room = static_cast<ULONG>(size + kAesBlockBytes);
    const bool ok =
        (keySize == 16 || keySize == 24 || keySize == 32) && size <= 0x7FFFFFF0u && h.Open(BCRYPT_AES_ALGORITHM) &&
        Succeeded(Library().setProperty(h.algorithm, BCRYPT_CHAINING_MODE,
                                        reinterpret_cast<PUCHAR>(const_cast<wchar_t *>(BCRYPT_CHAIN_MODE_CBC)),
                                        sizeof(BCRYPT_CHAIN_MODE_CBC), 0)) &&
        Succeeded(Library().symmetricKey(h.algorithm, &h.key, nullptr, 0, const_cast<PUCHAR>(key),
                                         static_cast<ULONG>(keySize), 0)) &&
        Succeeded(encrypt ? Library().encrypt(h.key, const_cast<PUCHAR>(in), static_cast<ULONG>(size), nullptr,
                                              chain, kAesBlockBytes, out, room, &written, BCRYPT_BLOCK_PADDING)
                          : Library().decrypt(h.key, const_cast<PUCHAR>(in), static_cast<ULONG>(size), nullptr,
                                              chain, kAesBlockBytes, out, room, &written, BCRYPT_BLOCK_PADDING));
    outSize = ok ? written : 0;
    return ok;
}

}  // namespace marvostell::crypto::signing
