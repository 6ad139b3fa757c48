// The publisher's key file, read and written by our own code where the
// platform has no reader of key files (Windows): PEM around a PKCS#8
// PrivateKeyInfo, an EncryptedPrivateKeyInfo (PBES2: PBKDF2 with HMAC-SHA256,
// AES-CBC), or an SEC1 ECPrivateKey, each holding a P-256 key. Only the
// structure is ours; key derivation, the cipher and the curve stay the
// platform's. The readers take untrusted files: every length is checked
// against the bytes left (fuzz/key_file_fuzz.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace marvostell::tools::keyfile {

constexpr size_t kScalarBytes = 32;        // d, and each of X and Y
constexpr size_t kCipherBlockBytes = 16;   // an AES block, and the IV
constexpr uint32_t kMaxIterations = 10000000;  // PBKDF2 rounds read at most

struct P256Key {
    uint8_t privateKey[kScalarBytes] = {};     // d, big-endian
    uint8_t publicKey[2 * kScalarBytes] = {};  // X then Y
    bool hasPublicKey = false;
};

// What PBES2 needs to decrypt a key, or what encrypted it.
struct EncryptedKey {
    std::vector<uint8_t> salt;
    uint32_t iterations = 0;
    size_t keyBytes = 0;  // the AES key: 16, 24 or 32
    uint8_t iv[kCipherBlockBytes] = {};
    std::vector<uint8_t> ciphertext;  // whole blocks
};

enum class Fault {
    kNone,
    kMalformed,
    kNotEc,                  // another kind of key (RSA, Ed25519, ...)
    kNotP256,                // an EC key on another curve
    kUnsupportedEncryption,  // encrypted otherwise than PBES2/PBKDF2-HMAC-SHA256/AES-CBC
    kNoPublicKey,            // the file leaves out the public point
};

enum class PemLabel { kPrivateKey, kEncryptedPrivateKey, kEcPrivateKey };

// The first private key block of `text`: its label and its DER bytes.
Fault ReadPem(const std::string &text, PemLabel &label, std::vector<uint8_t> &der);
// The block, in lines of 64 characters, each ended by LF.
std::string WritePem(PemLabel label, const std::vector<uint8_t> &der);

Fault ReadPrivateKeyInfo(const uint8_t *der, size_t size, P256Key &key);
Fault ReadEcPrivateKey(const uint8_t *der, size_t size, P256Key &key);
Fault ReadEncryptedPrivateKeyInfo(const uint8_t *der, size_t size, EncryptedKey &key);

// The forms the Linux tool's libcrypto writes: the public key included, the
// curve named once; PBKDF2's PRF named, its key length left out.
std::vector<uint8_t> WritePrivateKeyInfo(const P256Key &key);
std::vector<uint8_t> WriteEncryptedPrivateKeyInfo(const EncryptedKey &key);

// Standard base64 with padding, no line breaks.
std::string Base64(const uint8_t *bytes, size_t size);

// Overwrites secret bytes in a way the compiler keeps.
void Wipe(void *data, size_t size);

}  // namespace marvostell::tools::keyfile
