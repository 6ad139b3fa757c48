#include "manifest/signature.h"

#include <cstring>
#include <ctime>

#include "framework/strings.h"
#include "platform/win32.h"

namespace marvostell {
namespace {

constexpr size_t kBase64Of64Bytes = 88;

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

bool DecodeFixed(const std::string &text, uint8_t *out, size_t size) {
    std::vector<uint8_t> bytes;
    if (text.size() != kBase64Of64Bytes || !DecodeBase64(text, bytes) || bytes.size() != size)
        return false;
    std::memcpy(out, bytes.data(), size);
    return true;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

bool DecodeBase64(const std::string &text, std::vector<uint8_t> &bytes) {
    bytes.clear();
    if (text.size() % 4 != 0) return false;
    for (size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int v[4];
        int padding = 0;
        for (int k = 0; k < 4; ++k) {
            const char c = text[i + k];
            if (c == '=' && last && k >= 2) {
                v[k] = 0;
                ++padding;
            } else if (padding > 0 || (v[k] = Base64Value(c)) < 0) {
                return false;
            }
        }
        const uint32_t group = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
        bytes.push_back(static_cast<uint8_t>(group >> 16));
        if (padding < 2) bytes.push_back(static_cast<uint8_t>(group >> 8));
        if (padding < 1) bytes.push_back(static_cast<uint8_t>(group));
        // Bits below the padding must be zero: one text for each byte string.
        if ((padding == 1 && (v[2] & 0x3)) || (padding == 2 && (v[1] & 0xF))) return false;
    }
    return true;
}

bool ParseTrustedKeys(const char *text, std::vector<PublicKey> &keys, std::string &bad) {
    keys.clear();
    std::string entry;
    const auto take = [&]() {
        if (entry.empty()) return true;
        PublicKey key;
        // A key the platform's cryptography cannot load is judged later, by
        // the signature check (unavailable).
        if (!DecodeFixed(entry, key.data(), key.size()) ||
            crypto::ImportP256PublicKey(key.data()) == crypto::KeyImport::kRefused) {
            bad = entry;
            return false;
        }
        keys.push_back(key);
        entry.clear();
        return true;
    };
    for (const char *p = text; *p; ++p) {
        if (*p == ',' || *p == ' ' || *p == '\t' || *p == '\r' || *p == '\n') {
            if (!take()) return false;
        } else {
            entry += *p;
        }
    }
    if (!take()) return false;
    bad.clear();
    return !keys.empty();
}

SignatureVerdict VerifyManifestSignature(const uint8_t *manifest, size_t size,
                                         const std::vector<PublicKey> &keys) {
    // The last line, without its one line end (CRLF, LF or none).
    size_t end = size;
    if (end > 0 && manifest[end - 1] == '\n') --end;
    if (end > 0 && manifest[end - 1] == '\r' && end < size) --end;
    size_t start = end;
    while (start > 0 && manifest[start - 1] != '\n') --start;
    const std::string last(reinterpret_cast<const char *>(manifest) + start, end - start);
    const size_t prefix = sizeof kSignaturePrefix - 1;
    if (last.compare(0, prefix, kSignaturePrefix) != 0) {
        // A signature line before the last: someone added lines after it.
        const std::string before(reinterpret_cast<const char *>(manifest), start);
        if (before.compare(0, prefix, kSignaturePrefix) == 0 ||
            before.find(std::string("\n") + kSignaturePrefix) != std::string::npos)
            return SignatureVerdict::kNotLast;
        return SignatureVerdict::kMissing;
    }
    uint8_t signature[crypto::kP256SignatureBytes];
    if (!DecodeFixed(last.substr(prefix), signature, sizeof signature))
        return SignatureVerdict::kMalformed;
    if (!crypto::Available()) return SignatureVerdict::kUnavailable;
    crypto::CSha256 sha;
    uint8_t digest[crypto::kSha256Bytes];
    if (!sha.Add(manifest, start) || !sha.Finish(digest)) return SignatureVerdict::kUnavailable;
    for (const PublicKey &key : keys)
        if (crypto::VerifyP256(key.data(), signature, digest)) return SignatureVerdict::kValid;
    return SignatureVerdict::kNoKeyMatches;
}

bool ManifestExpired(const CManifestReader &manifest) {
    char value[32];
    manifest.Read("General", "Expires", "", value, sizeof value);
    std::string text = value;
    TrimWhitespace(text);
    if (text.empty()) return false;
    int64_t expiry = 0;
    if (!ParseExpiryDate(text, expiry)) return true;
    const int64_t today = static_cast<int64_t>(std::time(nullptr)) / 86400;
    return today >= expiry;
}

bool ParseExpiryDate(const std::string &text, int64_t &days) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
    for (size_t i : {0, 1, 2, 3, 5, 6, 8, 9})
        if (text[i] < '0' || text[i] > '9') return false;
    const int year = std::stoi(text.substr(0, 4));
    const unsigned month = static_cast<unsigned>(std::stoi(text.substr(5, 2)));
    const unsigned day = static_cast<unsigned>(std::stoi(text.substr(8, 2)));
    static const unsigned kDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > kDays[month - 1]) return false;
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap) return false;
    days = DaysFromCivil(year, month, day);
    return true;
}

}  // namespace marvostell
