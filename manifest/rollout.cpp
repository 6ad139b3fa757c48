#include "manifest/rollout.h"

#include "framework/files.h"
#include "framework/trace.h"
#include "platform/crypto.h"

namespace marvostell {
namespace {

// Room for the identity, its line end and a little more: anything longer is
// no identity.
constexpr DWORD kHostIdReadSize = 64;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

enum class IdFile { kRead, kMissing, kUnusable };

IdFile ReadHostIdFile(const std::string &path, std::string &id) {
    CFileHandle file(OpenLocalFile(path.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    if (!file.IsOpen())
        return GetLastError() == ERROR_FILE_NOT_FOUND ? IdFile::kMissing : IdFile::kUnusable;
    char text[kHostIdReadSize + 1];
    DWORD count = 0;
    if (!ReadFile(file.Get(), text, sizeof text, &count, nullptr)) return IdFile::kUnusable;
    return ParseHostId(std::string(text, count), id) ? IdFile::kRead : IdFile::kUnusable;
}

// A new identity in a new file; false (and no file left) when either fails.
// `raced` tells that another check made the file first.
bool MakeHostIdFile(const std::string &path, std::string &id, bool &raced) {
    uint8_t random[kHostIdDigits / 2];
    if (!crypto::RandomBytes(random, sizeof random)) return false;
    static const char kDigits[] = "0123456789abcdef";
    id.clear();
    for (uint8_t byte : random) {
        id += kDigits[byte >> 4];
        id += kDigits[byte & 0xF];
    }
    CFileHandle file(OpenLocalFile(path.c_str(), GENERIC_WRITE, 0, CREATE_NEW));
    raced = !file.IsOpen() && GetLastError() == ERROR_FILE_EXISTS;
    if (!file.IsOpen()) return false;
    const std::string line = id + "\n";
    DWORD written = 0;
    const bool ok = WriteFile(file.Get(), line.data(), static_cast<DWORD>(line.size()), &written,
                              nullptr) &&
                    written == line.size();
    file.Close();
    // A part of an identity would keep this host out of every rollout.
    if (!ok) DeleteFileA(path.c_str());
    return ok;
}

}  // namespace

bool ParseHostId(const std::string &text, std::string &id) {
    if (text.size() < kHostIdDigits) return false;
    std::string digits;
    for (size_t i = 0; i < kHostIdDigits; ++i) {
        const int value = HexValue(text[i]);
        if (value < 0) return false;
        digits += "0123456789abcdef"[value];
    }
    for (size_t i = kHostIdDigits; i < text.size(); ++i)
        if (!IsSpace(text[i])) return false;
    id = digits;
    return true;
}

bool RolloutBucket(const std::string &id, const std::string &section, uint32_t &bucket) {
    crypto::CSha256 sha;
    uint8_t digest[crypto::kSha256Bytes];
    static const char kPrefix[] = "rollout";  // its NUL goes in as the separator
    const char separator = '\0';
    if (!sha.Add(kPrefix, sizeof kPrefix) || !sha.Add(id.data(), id.size()) ||
        !sha.Add(&separator, 1) || !sha.Add(section.data(), section.size()) || !sha.Finish(digest))
        return false;
    const uint32_t first = (static_cast<uint32_t>(digest[0]) << 24) |
                           (static_cast<uint32_t>(digest[1]) << 16) |
                           (static_cast<uint32_t>(digest[2]) << 8) | digest[3];
    bucket = first % kRolloutBuckets;
    return true;
}

bool IsAdmitted(uint32_t bucket, uint32_t percent) {
    return bucket < (percent > 100 ? 100 : percent) * (kRolloutBuckets / 100);
}

CHostIdentity CHostIdentity::Given(const std::string &id) {
    CHostIdentity identity("");
    identity.m_bTried = true;
    identity.m_bKnown = !id.empty();
    identity.m_strId = id;
    return identity;
}

const std::string *CHostIdentity::Get() {
    if (!m_bTried) {
        m_bTried = true;
        m_bKnown = Load();
        if (!m_bKnown) Trace("marvostell!no host identity in %s\n", m_strDir.c_str());
    }
    return m_bKnown ? &m_strId : nullptr;
}

bool CHostIdentity::Load() {
    const std::string path = m_strDir + kPathSeparator + kHostIdName;
    // Only a missing file is made; one that cannot be read stays as it is.
    const IdFile found = ReadHostIdFile(path, m_strId);
    if (found != IdFile::kMissing) return found == IdFile::kRead;
    bool raced = false;
    if (MakeHostIdFile(path, m_strId, raced)) return true;
    // Another check in the same directory made it meanwhile.
    return raced && ReadHostIdFile(path, m_strId) == IdFile::kRead;
}

}  // namespace marvostell
