#include "signing_key_der.h"

#include <cstring>

#include "manifest/signature.h"

namespace marvostell::tools::keyfile {
namespace {

using Bytes = std::vector<uint8_t>;

// Object identifiers, as their DER content.
const Bytes kEcPublicKey = {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01};
const Bytes kPrime256v1 = {0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07};
const Bytes kPbes2 = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x05, 0x0d};
const Bytes kPbkdf2 = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x01, 0x05, 0x0c};
const Bytes kHmacWithSha256 = {0x2a, 0x86, 0x48, 0x86, 0xf7, 0x0d, 0x02, 0x09};
const Bytes kAesCbcPrefix = {0x60, 0x86, 0x48, 0x01, 0x65, 0x03, 0x04, 0x01};  // then 2, 22 or 42

enum Tag : uint8_t {
    kInteger = 0x02,
    kBitString = 0x03,
    kOctetString = 0x04,
    kNull = 0x05,
    kOid = 0x06,
    kSequence = 0x30,
    kContext0 = 0xa0,         // [0], constructed
    kContext1 = 0xa1,         // [1], constructed
    kContext1Primitive = 0x81,  // [1] IMPLICIT BIT STRING
};

constexpr size_t kMaxSaltBytes = 1024;

// A view of DER bytes, taken apart one element at a time. Definite lengths
// only, each within the bytes that are left.
class Der {
public:
    Der() = default;
    Der(const uint8_t *data, size_t size) : m_at(data), m_end(data + size) {}

    bool Done() const { return m_at == m_end; }
    bool NextIs(uint8_t tag) const { return m_at != m_end && *m_at == tag; }
    const uint8_t *Data() const { return m_at; }
    size_t Size() const { return static_cast<size_t>(m_end - m_at); }
    bool Is(const Bytes &bytes) const { return Size() == bytes.size() && std::memcmp(m_at, bytes.data(), Size()) == 0; }

    // The next element, if it has `tag`: its content, and the view moves past it.
    bool Take(uint8_t tag, Der &content) {
        if (!NextIs(tag) || Size() < 2) return false;
        const uint8_t *at = m_at + 1;
        size_t length = *at++;
        if (length & 0x80) {
            const size_t count = length & 0x7f;
            if (count == 0 || count > 4 || static_cast<size_t>(m_end - at) < count) return false;
            length = 0;
            for (size_t i = 0; i < count; ++i) length = (length << 8) | *at++;
        }
        if (length > static_cast<size_t>(m_end - at)) return false;
        content = Der(at, length);
        m_at = at + length;
        return true;
    }

    // A non-negative INTEGER that fits 32 bits.
    bool TakeNumber(uint32_t &value) {
        Der content;
        if (!Take(kInteger, content) || content.Done() || content.Size() > 5 || (*content.m_at & 0x80) ||
            (content.Size() == 5 && *content.m_at != 0))
            return false;
        value = 0;
        for (const uint8_t *p = content.m_at; p != content.m_end; ++p) value = (value << 8) | *p;
        return true;
    }

private:
    const uint8_t *m_at = nullptr;
    const uint8_t *m_end = nullptr;
};

// The named curve of EC parameters.
Fault CurveFault(Der &parameters) {
    Der oid;
    if (!parameters.Take(kOid, oid) || !parameters.Done()) return Fault::kNotP256;  // explicit or implicit curve
    return oid.Is(kPrime256v1) ? Fault::kNone : Fault::kNotP256;
}

// An ECPrivateKey; `curveKnown` when PKCS#8 around it named P-256 already.
Fault ReadEcKeyContent(Der ecKey, bool curveKnown, P256Key &key) {
    Der scalar, parameters, publicPart, point;
    uint32_t version = 0;
    if (!ecKey.TakeNumber(version) || version != 1 || !ecKey.Take(kOctetString, scalar) || scalar.Done())
        return Fault::kMalformed;
    if (ecKey.Take(kContext0, parameters)) {
        const Fault curve = CurveFault(parameters);
        if (curve != Fault::kNone) return curve;
        curveKnown = true;
    }
    if (!curveKnown) return Fault::kMalformed;
    if (scalar.Size() > kScalarBytes) return Fault::kMalformed;
    // Some writers leave out leading zero bytes of d.
    std::memset(key.privateKey, 0, kScalarBytes);
    std::memcpy(key.privateKey + kScalarBytes - scalar.Size(), scalar.Data(), scalar.Size());
    key.hasPublicKey = false;
    if (ecKey.Take(kContext1, publicPart)) {
        // An uncompressed point; a compressed one counts as none.
        if (!publicPart.Take(kBitString, point) || !publicPart.Done() || point.Done() || point.Data()[0] != 0)
            return Fault::kMalformed;
        if (point.Size() == 2 + 2 * kScalarBytes && point.Data()[1] == 0x04) {
            std::memcpy(key.publicKey, point.Data() + 2, 2 * kScalarBytes);
            key.hasPublicKey = true;
        }
    }
    return ecKey.Done() ? Fault::kNone : Fault::kMalformed;
}

void PutLength(Bytes &out, size_t length) {
    if (length < 0x80) {
        out.push_back(static_cast<uint8_t>(length));
        return;
    }
    uint8_t count = 0;
    for (size_t rest = length; rest != 0; rest >>= 8) ++count;
    out.push_back(static_cast<uint8_t>(0x80 | count));
    while (count--) out.push_back(static_cast<uint8_t>(length >> (8 * count)));
}

Bytes Tlv(uint8_t tag, const uint8_t *content, size_t size) {
    Bytes out{tag};
    PutLength(out, size);
    out.insert(out.end(), content, content + size);
    return out;
}
Bytes Tlv(uint8_t tag, const Bytes &content) { return Tlv(tag, content.data(), content.size()); }

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes &part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes Number(uint32_t value) {
    Bytes content;
    for (int shift = 24; shift >= 0; shift -= 8)
        if (!content.empty() || (value >> shift) != 0 || shift == 0)
            content.push_back(static_cast<uint8_t>(value >> shift));
    if (content[0] & 0x80) content.insert(content.begin(), 0);
    return Tlv(kInteger, content);
}

const char *LabelText(PemLabel label) {
    switch (label) {
    case PemLabel::kEncryptedPrivateKey: return "ENCRYPTED PRIVATE KEY";
    case PemLabel::kEcPrivateKey: return "EC PRIVATE KEY";
    default: return "PRIVATE KEY";
    }
}

}  // namespace

Fault ReadPem(const std::string &text, PemLabel &label, std::vector<uint8_t> &der) {
    static const std::string kBegin = "-----BEGIN ", kEnd = "-----END ", kDashes = "-----";
    // Other blocks (EC PARAMETERS, say) may come first.
    for (size_t begin = text.find(kBegin); begin != std::string::npos; begin = text.find(kBegin, begin + 1)) {
        const size_t labelStart = begin + kBegin.size();
        const size_t labelEnd = text.find(kDashes, labelStart);
        if (labelEnd == std::string::npos) return Fault::kMalformed;
        const std::string name = text.substr(labelStart, labelEnd - labelStart);
        if (name == "RSA PRIVATE KEY" || name == "DSA PRIVATE KEY") return Fault::kNotEc;
        if (name == LabelText(PemLabel::kPrivateKey)) label = PemLabel::kPrivateKey;
        else if (name == LabelText(PemLabel::kEncryptedPrivateKey)) label = PemLabel::kEncryptedPrivateKey;
        else if (name == LabelText(PemLabel::kEcPrivateKey)) label = PemLabel::kEcPrivateKey;
        else continue;
        const size_t body = labelEnd + kDashes.size();
        const size_t end = text.find(kEnd + name + kDashes, body);
        if (end == std::string::npos) return Fault::kMalformed;
        std::string base64;
        for (size_t i = body; i < end; ++i) {
            const char c = text[i];
            // Headers: the legacy encryption of OpenSSL's own PEM form.
            if (c == ':')
                return text.find("Proc-Type:", body) < end ? Fault::kUnsupportedEncryption : Fault::kMalformed;
            if (c != ' ' && c != '\t' && c != '\r' && c != '\n') base64 += c;
        }
        const bool decoded = DecodeBase64(base64, der) && !der.empty();
        Wipe(&base64[0], base64.size());
        return decoded ? Fault::kNone : Fault::kMalformed;
    }
    return Fault::kMalformed;
}

std::string WritePem(PemLabel label, const std::vector<uint8_t> &der) {
    const std::string base64 = Base64(der.data(), der.size());
    std::string text = std::string("-----BEGIN ") + LabelText(label) + "-----\n";
    for (size_t at = 0; at < base64.size(); at += 64) text += base64.substr(at, 64) + "\n";
    return text + "-----END " + LabelText(label) + "-----\n";
}

Fault ReadPrivateKeyInfo(const uint8_t *data, size_t size, P256Key &key) {
    Der all(data, size), info, algorithm, oid, inner, ecKey, skipped;
    uint32_t version = 0;
    if (!all.Take(kSequence, info) || !all.Done() || !info.TakeNumber(version) || version > 1 ||
        !info.Take(kSequence, algorithm) || !algorithm.Take(kOid, oid))
        return Fault::kMalformed;
    if (!oid.Is(kEcPublicKey)) return Fault::kNotEc;
    const Fault curve = CurveFault(algorithm);
    if (curve != Fault::kNone) return curve;
    if (!info.Take(kOctetString, inner) || !inner.Take(kSequence, ecKey) || !inner.Done()) return Fault::kMalformed;
    // Attributes, and a version 2 key's public key, are not needed.
    info.Take(kContext0, skipped);
    info.Take(kContext1Primitive, skipped);
    if (!info.Done()) return Fault::kMalformed;
    return ReadEcKeyContent(ecKey, true, key);
}

Fault ReadEcPrivateKey(const uint8_t *data, size_t size, P256Key &key) {
    Der all(data, size), ecKey;
    if (!all.Take(kSequence, ecKey) || !all.Done()) return Fault::kMalformed;
    return ReadEcKeyContent(ecKey, false, key);
}

Fault ReadEncryptedPrivateKeyInfo(const uint8_t *data, size_t size, EncryptedKey &key) {
    Der all(data, size), info, algorithm, oid, pbes2, kdf, kdfOid, kdfParameters, salt, prf, prfOid, nothing, cipher,
        cipherOid, iv, ciphertext;
    if (!all.Take(kSequence, info) || !all.Done() || !info.Take(kSequence, algorithm) ||
        !algorithm.Take(kOid, oid) || !info.Take(kOctetString, ciphertext) || !info.Done())
        return Fault::kMalformed;
    if (!oid.Is(kPbes2)) return Fault::kUnsupportedEncryption;
    if (!algorithm.Take(kSequence, pbes2) || !algorithm.Done() || !pbes2.Take(kSequence, kdf) ||
        !pbes2.Take(kSequence, cipher) || !pbes2.Done() || !kdf.Take(kOid, kdfOid) || !cipher.Take(kOid, cipherOid))
        return Fault::kMalformed;
    if (!kdfOid.Is(kPbkdf2)) return Fault::kUnsupportedEncryption;
    uint32_t keyLength = 0;
    if (!kdf.Take(kSequence, kdfParameters) || !kdf.Done() || !kdfParameters.Take(kOctetString, salt) ||
        salt.Done() || salt.Size() > kMaxSaltBytes || !kdfParameters.TakeNumber(key.iterations) ||
        key.iterations == 0 || key.iterations > kMaxIterations ||
        (kdfParameters.NextIs(kInteger) && !kdfParameters.TakeNumber(keyLength)))
        return Fault::kMalformed;
    // The PRF is HMAC-SHA1 when none is named.
    if (!kdfParameters.Take(kSequence, prf) || !kdfParameters.Done() || !prf.Take(kOid, prfOid) ||
        !prfOid.Is(kHmacWithSha256))
        return Fault::kUnsupportedEncryption;
    if (prf.Take(kNull, nothing) && !nothing.Done()) return Fault::kMalformed;
    if (!prf.Done()) return Fault::kMalformed;
    // AES-128, -192 or -256 in CBC mode.
    const size_t prefix = kAesCbcPrefix.size();
    const uint8_t mode = cipherOid.Size() == prefix + 1 ? cipherOid.Data()[prefix] : 0;
    if (!(cipherOid.Size() == prefix + 1 && std::memcmp(cipherOid.Data(), kAesCbcPrefix.data(), prefix) == 0 &&
          (mode == 2 || mode == 22 || mode == 42)))
        return Fault::kUnsupportedEncryption;
    key.keyBytes = mode == 2 ? 16 : mode == 22 ? 24 : 32;
    if ((keyLength != 0 && keyLength != key.keyBytes) || !cipher.Take(kOctetString, iv) ||
        iv.Size() != kCipherBlockBytes || !cipher.Done() || ciphertext.Done() ||
        ciphertext.Size() % kCipherBlockBytes != 0)
        return Fault::kMalformed;
    key.salt.assign(salt.Data(), salt.Data() + salt.Size());
    std::memcpy(key.iv, iv.Data(), kCipherBlockBytes);
    key.ciphertext.assign(ciphertext.Data(), ciphertext.Data() + ciphertext.Size());
    return Fault::kNone;
}

std::vector<uint8_t> WritePrivateKeyInfo(const P256Key &key) {
    Bytes point{0x00, 0x04};
    point.insert(point.end(), key.publicKey, key.publicKey + sizeof key.publicKey);
    Bytes ecKey = Tlv(kSequence, Concat({Number(1), Tlv(kOctetString, key.privateKey, kScalarBytes),
                                         Tlv(kContext1, Tlv(kBitString, point))}));
    Bytes info = Tlv(kSequence, Concat({Number(0),
                                        Tlv(kSequence, Concat({Tlv(kOid, kEcPublicKey), Tlv(kOid, kPrime256v1)})),
                                        Tlv(kOctetString, ecKey)}));
    Wipe(ecKey.data(), ecKey.size());
    return info;
}

std::vector<uint8_t> WriteEncryptedPrivateKeyInfo(const EncryptedKey &key) {
    Bytes cipherOid = kAesCbcPrefix;
    cipherOid.push_back(key.keyBytes == 16 ? 2 : key.keyBytes == 24 ? 22 : 42);
    const Bytes prf = Tlv(kSequence, Concat({Tlv(kOid, kHmacWithSha256), Tlv(kNull, Bytes())}));
    const Bytes kdf = Tlv(kSequence, Concat({Tlv(kOid, kPbkdf2),
                                             Tlv(kSequence, Concat({Tlv(kOctetString, key.salt),
                                                                    Number(key.iterations), prf}))}));
    const Bytes cipher = Tlv(kSequence, Concat({Tlv(kOid, cipherOid), Tlv(kOctetString, key.iv, kCipherBlockBytes)}));
    const Bytes algorithm = Tlv(kSequence, Concat({Tlv(kOid, kPbes2), Tlv(kSequence, Concat({kdf, cipher}))}));
    return Tlv(kSequence, Concat({algorithm, Tlv(kOctetString, key.ciphertext)}));
}

std::string Base64(const uint8_t *bytes, size_t size) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (size_t i = 0; i < size; i += 3) {
        const size_t n = size - i < 3 ? size - i : 3;
        uint32_t group = static_cast<uint32_t>(bytes[i]) << 16;
        if (n > 1) group |= static_cast<uint32_t>(bytes[i + 1]) << 8;
        if (n > 2) group |= bytes[i + 2];
        out += kDigits[group >> 18];
        out += kDigits[(group >> 12) & 63];
        out += n > 1 ? kDigits[(group >> 6) & 63] : '=';
        out += n > 2 ? kDigits[group & 63] : '=';
    }
    return out;
}

void Wipe(void *data, size_t size) {
    volatile uint8_t *bytes = static_cast<volatile uint8_t *>(data);
    while (size--) *bytes++ = 0;
}

}  // namespace marvostell::tools::keyfile
