// The publisher's P-256 key, made, stored and used by the platform's
// cryptography (OpenSSL's libcrypto): a PKCS#8 PEM file readable by its
// owner only. Keys and signatures leave here in the manifest's formats:
// base64 of X||Y, and of r||s.
#pragma once

#include <string>

namespace marvostell::tools {

enum class KeyStatus { kOk, kExists, kUnreadable, kFailed };

// Writes a new key to `path`, created with mode 0600 (never a file that
// exists, unless `replace`: then a new file is renamed over it).
KeyStatus MakeKeyFile(const std::string &path, bool replace, std::string &publicKey, std::string &error);

// Signs `bytes` (ECDSA over their SHA-256) with the key in `path`.
KeyStatus SignWithKeyFile(const std::string &path, const std::string &bytes, std::string &signature,
                          std::string &publicKey, std::string &error);

// Whether others than the owner may read `path` (a warning for a key).
bool ReadableByOthers(const std::string &path);

}  // namespace marvostell::tools
