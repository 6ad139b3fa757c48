// The platform's side of signing_key.h on Windows: CNG makes the key,
// derives the passphrase's key, encrypts and signs; the PEM and DER around
// them are ours (signing_key_der.h), in the forms libcrypto writes on Linux.
#include <cstring>
#include <vector>

#include "signing_key.h"
#include "signing_key_der.h"

namespace marvostell::tools {
namespace {

using namespace keyfile;
namespace signing = crypto::signing;

KeyStatus StatusOf(Fault fault) {
    switch (fault) {
    case Fault::kNone: return KeyStatus::kOk;
    case Fault::kNotEc: return KeyStatus::kNotEc;
    case Fault::kNotP256: return KeyStatus::kNotP256;
    case Fault::kUnsupportedEncryption: return KeyStatus::kUnsupportedEncryption;
    case Fault::kNoPublicKey: return KeyStatus::kNoPublicKey;
    default: return KeyStatus::kUnreadable;
    }
}

// Secret bytes, overwritten when they go.
struct Secret {
    std::vector<uint8_t> bytes;
    explicit Secret(size_t size = 0) : bytes(size) {}
    ~Secret() { Wipe(bytes.data(), bytes.size()); }
};

struct SecretKey {
    P256Key key;
    ~SecretKey() { Wipe(key.privateKey, sizeof key.privateKey); }
};

bool Encrypt(const std::vector<uint8_t> &plain, const std::string &passphrase, EncryptedKey &out) {
    out.salt.resize(16);
    out.iterations = kKeyIterations;
    out.keyBytes = 32;
    Secret aesKey(out.keyBytes);
    out.ciphertext.resize(plain.size() + kCipherBlockBytes);
    size_t size = 0;
    const bool ok = crypto::RandomBytes(out.salt.data(), out.salt.size()) &&
                    crypto::RandomBytes(out.iv, sizeof out.iv) &&
                    signing::Pbkdf2Sha256(passphrase.data(), passphrase.size(), out.salt.data(), out.salt.size(),
                                          out.iterations, aesKey.bytes.data(), aesKey.bytes.size()) &&
                    signing::AesCbc(true, aesKey.bytes.data(), aesKey.bytes.size(), out.iv, plain.data(),
                                    plain.size(), out.ciphertext.data(), size);
    out.ciphertext.resize(size);
    return ok;
}

// The PrivateKeyInfo inside an EncryptedPrivateKeyInfo.
KeyStatus Decrypt(const std::vector<uint8_t> &der, const std::string &passphrase, P256Key &key) {
    EncryptedKey encrypted;
    const Fault fault = ReadEncryptedPrivateKeyInfo(der.data(), der.size(), encrypted);
    if (fault != Fault::kNone) return StatusOf(fault);
    Secret aesKey(encrypted.keyBytes), plain(encrypted.ciphertext.size() + kCipherBlockBytes);
    size_t size = 0;
    if (!signing::Pbkdf2Sha256(passphrase.data(), passphrase.size(), encrypted.salt.data(), encrypted.salt.size(),
                               encrypted.iterations, aesKey.bytes.data(), aesKey.bytes.size()))
        return KeyStatus::kFailed;
    // Another passphrase gives another AES key: the padding, or else the
    // structure of what it decrypts to, does not check.
    if (!signing::AesCbc(false, aesKey.bytes.data(), aesKey.bytes.size(), encrypted.iv, encrypted.ciphertext.data(),
                         encrypted.ciphertext.size(), plain.bytes.data(), size))
        return KeyStatus::kWrongPassphrase;
    const Fault inner = ReadPrivateKeyInfo(plain.bytes.data(), size, key);
    return inner == Fault::kMalformed ? KeyStatus::kWrongPassphrase : StatusOf(inner);
}

}  // namespace

KeyStatus MakeKeyPem(const std::string *passphrase, std::string &pem, uint8_t publicKey[crypto::kP256KeyBytes]) {
    SecretKey made;
    if (!signing::MakeP256(made.key.privateKey, made.key.publicKey)) return KeyStatus::kFailed;
    made.key.hasPublicKey = true;
    std::memcpy(publicKey, made.key.publicKey, sizeof made.key.publicKey);
    Secret der;
    der.bytes = WritePrivateKeyInfo(made.key);
    if (!passphrase) {
        pem = WritePem(PemLabel::kPrivateKey, der.bytes);
        return KeyStatus::kOk;
    }
    EncryptedKey encrypted;
    if (!Encrypt(der.bytes, *passphrase, encrypted)) return KeyStatus::kFailed;
    pem = WritePem(PemLabel::kEncryptedPrivateKey, WriteEncryptedPrivateKeyInfo(encrypted));
    return KeyStatus::kOk;
}

KeyStatus SignWithKeyPem(const std::string &pem, const std::string *passphrase, const std::string &bytes,
                         uint8_t signature[crypto::kP256SignatureBytes], uint8_t publicKey[crypto::kP256KeyBytes],
                         bool &encrypted) {
    PemLabel label = PemLabel::kPrivateKey;
    Secret der;
    const Fault fault = ReadPem(pem, label, der.bytes);
    encrypted = fault == Fault::kNone && label == PemLabel::kEncryptedPrivateKey;
    if (fault != Fault::kNone) return StatusOf(fault);
    SecretKey read;
    KeyStatus status;
    if (encrypted)
        status = passphrase ? Decrypt(der.bytes, *passphrase, read.key) : KeyStatus::kNoPassphrase;
    else if (label == PemLabel::kEcPrivateKey)
        status = StatusOf(ReadEcPrivateKey(der.bytes.data(), der.bytes.size(), read.key));
    else
        status = StatusOf(ReadPrivateKeyInfo(der.bytes.data(), der.bytes.size(), read.key));
    if (status != KeyStatus::kOk) return status;
    if (!read.key.hasPublicKey) return KeyStatus::kNoPublicKey;

    uint8_t digest[crypto::kSha256Bytes];
    crypto::CSha256 sha;
    if (!sha.Add(bytes.data(), bytes.size()) || !sha.Finish(digest) ||
        !signing::SignP256(read.key.privateKey, read.key.publicKey, digest, signature))
        return KeyStatus::kFailed;
    std::memcpy(publicKey, read.key.publicKey, sizeof read.key.publicKey);
    return KeyStatus::kOk;
}

}  // namespace marvostell::tools
