// SHA-256, ECDSA P-256 verification and random bytes from the platform's own maintained
// implementation: CNG (bcrypt.dll, loaded from the system directory on first
// use) on Windows, OpenSSL's libcrypto elsewhere. Nothing here is our own
// cryptography. The signing side at the end is for the Windows tools only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace marvostell::crypto {

constexpr size_t kSha256Bytes = 32;
constexpr size_t kP256KeyBytes = 64;        // X then Y, 32 bytes each, big-endian
constexpr size_t kP256SignatureBytes = 64;  // r then s, 32 bytes each, big-endian

// Whether the platform's implementation could be loaded.
bool Available();

// SHA-256 of bytes added in any number of pieces.
class CSha256 {
public:
    CSha256();
    ~CSha256();
    CSha256(const CSha256 &) = delete;
    CSha256 &operator=(const CSha256 &) = delete;

    // False once any step has failed; Finish then fails too.
    bool Add(const void *data, size_t size);
    bool Finish(uint8_t digest[kSha256Bytes]);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// What the platform makes of a public key.
enum class KeyImport {
    kImported,     // a point of P-256: it can verify signatures
    kRefused,      // not a point of the curve
    kUnavailable,  // the platform's cryptography could not be loaded
};
KeyImport ImportP256PublicKey(const uint8_t key[kP256KeyBytes]);

// Whether `signature` is a valid ECDSA signature of the SHA-256 `digest` by
// the public key `key`. A key that is not a point of the curve is no match.
bool VerifyP256(const uint8_t key[kP256KeyBytes], const uint8_t signature[kP256SignatureBytes],
                const uint8_t digest[kSha256Bytes]);

// Fills `out` with `size` bytes from the system's cryptographic random
// generator; false when it cannot.
bool RandomBytes(void *out, size_t size);

// The signing side, for the Windows tools (platform/win32/crypto_signing.cpp;
// the module never links it). The Linux tools read and write key files with
// libcrypto's own PKCS#8 instead. Each is false when CNG fails.
namespace signing {

constexpr size_t kP256PrivateKeyBytes = 32;  // d, big-endian
constexpr size_t kAesBlockBytes = 16;

// A new key pair: d, and the public key as X then Y.
bool MakeP256(uint8_t privateKey[kP256PrivateKeyBytes], uint8_t publicKey[kP256KeyBytes]);

// The ECDSA signature (r then s) of a SHA-256 digest by the key d, whose
// public key CNG needs beside it.
bool SignP256(const uint8_t privateKey[kP256PrivateKeyBytes], const uint8_t publicKey[kP256KeyBytes],
              const uint8_t digest[kSha256Bytes], uint8_t signature[kP256SignatureBytes]);

// PBKDF2 with HMAC-SHA256.
bool Pbkdf2Sha256(const void *passphrase, size_t passphraseSize, const uint8_t *salt, size_t saltSize,
                  uint32_t iterations, uint8_t *key, size_t keySize);

// AES in CBC mode with PKCS#7 padding, a key of 16, 24 or 32 bytes. `out`
// has room for `size` + kAesBlockBytes bytes; `outSize` is what it holds.
// Decryption fails on padding that does not check, as a wrong key gives.
bool AesCbc(bool encrypt, const uint8_t *key, size_t keySize, const uint8_t iv[kAesBlockBytes],
            const uint8_t *in, size_t size, uint8_t *out, size_t &outSize);

}  // namespace signing

}  // namespace marvostell::crypto
