// The publisher's P-256 key, made, stored and used with the platform's
// cryptography, in one key file format everywhere: PKCS#8 PEM, plain or
// encrypted with a passphrase (PBES2: PBKDF2 with HMAC-SHA256, AES-256-CBC),
// readable by its owner only. Keys and signatures leave here in the
// manifest's formats: base64 of X||Y, and of r||s.
#pragma once

#include <cstdint>
#include <string>

#include "platform/crypto.h"

namespace marvostell::tools {

enum class KeyStatus {
    kOk,
    kExists,
    kUnreadable,  // no such file or variable, or no key in it
    kNoPassphrase,
    kWrongPassphrase,
    kNotEc,
    kNotP256,
    kUnsupportedEncryption,
    kNoPublicKey,
    kFailed,  // the platform's cryptography, or writing
};

// Where the key and its passphrase come from: a file or an environment
// variable each (never the command line, which other users can read).
struct KeySource {
    std::string file, variable;                      // --key, --key-env
    std::string passphraseFile, passphraseVariable;  // --passphrase-file, --passphrase-env
};

// PBKDF2 rounds for a key we encrypt: a guess costs as much as a signing.
constexpr uint32_t kKeyIterations = 600000;

// Writes a new key to `path` (never over a file that exists, unless
// `replace`: then a new file is renamed over it), encrypted when
// `passphrase` is given.
KeyStatus MakeKeyFile(const std::string &path, bool replace, const std::string *passphrase, std::string &publicKey,
                      std::string &error);

// Signs `bytes` (ECDSA over their SHA-256) with the key of `source`. On
// success, `error` may hold a warning: a passphrase given for a plain key.
KeyStatus SignWithKey(const KeySource &source, const std::string &bytes, std::string &signature,
                      std::string &publicKey, std::string &error);

// The first line of `file`, or the value of `variable` (whichever is not
// empty); false with a message when there is none.
bool ReadPassphrase(const std::string &file, const std::string &variable, std::string &passphrase,
                    std::string &error);

#ifndef _WIN32
// Whether others than the owner may read `path` (a warning for a key). On
// Windows the file's ACL decides, and keygen makes one for its owner only.
bool ReadableByOthers(const std::string &path);
#endif

// The platform's side: libcrypto's own PEM and PKCS#8 on Linux
// (signing_key_openssl.cpp); CNG and our PKCS#8 on Windows (signing_key_cng.cpp).
KeyStatus MakeKeyPem(const std::string *passphrase, std::string &pem, uint8_t publicKey[crypto::kP256KeyBytes]);
KeyStatus SignWithKeyPem(const std::string &pem, const std::string *passphrase, const std::string &bytes,
                         uint8_t signature[crypto::kP256SignatureBytes], uint8_t publicKey[crypto::kP256KeyBytes],
                         bool &encrypted);

}  // namespace marvostell::tools
