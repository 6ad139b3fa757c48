// The key file reader of the tools (tools/manifest/signing_key_der.h) on any
// bytes: as the text of a key file, and as each DER structure it reads. What
// it reads stays within the input and its bounds, and survives being written
// and read again unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tools/manifest/signing_key_der.h"

using namespace marvostell::tools::keyfile;

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// A plain key, from PKCS#8 or SEC1; written as PKCS#8, it reads back the same.
void PlainKey(const std::vector<uint8_t> &der, bool sec1) {
    P256Key key;
    const Fault fault = sec1 ? ReadEcPrivateKey(der.data(), der.size(), key)
                             : ReadPrivateKeyInfo(der.data(), der.size(), key);
    if (fault != Fault::kNone || !key.hasPublicKey) return;  // the writer needs the public key
    const std::vector<uint8_t> written = WritePrivateKeyInfo(key);
    P256Key again;
    Check(ReadPrivateKeyInfo(written.data(), written.size(), again) == Fault::kNone && again.hasPublicKey &&
          std::memcmp(again.privateKey, key.privateKey, sizeof key.privateKey) == 0 &&
          std::memcmp(again.publicKey, key.publicKey, sizeof key.publicKey) == 0);
}

void EncryptedKeyInfo(const std::vector<uint8_t> &der) {
    EncryptedKey key;
    if (ReadEncryptedPrivateKeyInfo(der.data(), der.size(), key) != Fault::kNone) return;
    Check(!key.salt.empty() && key.salt.size() < der.size() && key.iterations >= 1 &&
          key.iterations <= kMaxIterations && (key.keyBytes == 16 || key.keyBytes == 24 || key.keyBytes == 32) &&
          !key.ciphertext.empty() && key.ciphertext.size() % kCipherBlockBytes == 0 &&
          key.ciphertext.size() < der.size());
    const std::vector<uint8_t> written = WriteEncryptedPrivateKeyInfo(key);
    EncryptedKey again;
    Check(ReadEncryptedPrivateKeyInfo(written.data(), written.size(), again) == Fault::kNone &&
          again.salt == key.salt && again.iterations == key.iterations && again.keyBytes == key.keyBytes &&
          std::memcmp(again.iv, key.iv, sizeof key.iv) == 0 && again.ciphertext == key.ciphertext);
}

void AllStructures(const std::vector<uint8_t> &der) {
    PlainKey(der, false);
    PlainKey(der, true);
    EncryptedKeyInfo(der);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    AllStructures(bytes);
    PemLabel label = PemLabel::kPrivateKey;
    std::vector<uint8_t> der;
    if (ReadPem(std::string(bytes.begin(), bytes.end()), label, der) != Fault::kNone) return 0;
    Check(!der.empty() && der.size() < size);
    PemLabel labelAgain = PemLabel::kPrivateKey;
    std::vector<uint8_t> derAgain;
    Check(ReadPem(WritePem(label, der), labelAgain, derAgain) == Fault::kNone && labelAgain == label &&
          derAgain == der);
    AllStructures(der);
    return 0;
}
