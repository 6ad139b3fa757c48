// SHA-256 and ECDSA P-256 verification from the platform's own maintained
// implementation: CNG (bcrypt.dll, loaded from the system directory on first
// use) on Windows, OpenSSL's libcrypto elsewhere. Nothing here is our own
// cryptography.
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

}  // namespace marvostell::crypto
