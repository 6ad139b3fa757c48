#include "version_pattern.h"

#include <algorithm>
#include <filesystem>
#include <map>

namespace marvostell::tools {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

// The digits of a part at `at`: decimal, or for the whole version also 0x
// and hexadecimal. Advances `at`; false when there are none or they exceed
// 32 bits.
bool ReadNumber(const std::string &name, size_t &at, bool hexAllowed, uint64_t &value) {
    int base = 10;
    if (hexAllowed && name.compare(at, 2, "0x") == 0 && at + 2 < name.size() && IsHexDigit(name[at + 2])) {
        base = 16;
        at += 2;
    }
    const size_t start = at;
    while (at < name.size() && (base == 16 ? IsHexDigit(name[at]) : IsDigit(name[at])) && at - start < 10) ++at;
    if (at == start || (at < name.size() && (base == 16 ? IsHexDigit(name[at]) : IsDigit(name[at])))) return false;
    value = std::stoull(name.substr(start, at - start), nullptr, base);
    return value <= 0xFFFFFFFFu;
}

}  // namespace

bool CVersionPattern::Parse(const std::string &pattern, std::string &error) {
    static const char *const kParts[] = {"major", "minor", "patch", "version"};
    m_pieces.clear();
    std::map<std::string, int> seen;
    for (size_t at = 0; at < pattern.size();) {
        size_t open = pattern.find('{', at);
        size_t close = open == std::string::npos ? open : pattern.find('}', open);
        std::string name = close == std::string::npos ? "" : pattern.substr(open + 1, close - open - 1);
        const bool part = std::find(std::begin(kParts), std::end(kParts), name) != std::end(kParts);
        if (!part) {
            // Text up to the next "{", which may start a part.
            const size_t end = open == std::string::npos ? pattern.size() : std::max(open, at + 1);
            m_pieces.push_back({pattern.substr(at, end - at), false});
            at = end;
            continue;
        }
        if (open > at) m_pieces.push_back({pattern.substr(at, open - at), false});
        if (!m_pieces.empty() && m_pieces.back().part) {
            error = "two parts side by side in the version pattern cannot be told apart";
            return false;
        }
        if (seen[name]++) {
            error = "the version pattern names {" + name + "} twice";
            return false;
        }
        m_pieces.push_back({name, true});
        at = close + 1;
    }
    m_patch = seen.count("patch") != 0;
    const bool whole = seen.count("version") != 0;
    if (whole ? seen.size() != 1 : !(seen.count("major") && seen.count("minor"))) {
        error = "a version pattern holds {major} and {minor} (and {patch}), or {version} alone";
        return false;
    }
    return true;
}

bool CVersionPattern::Match(const std::string &name, uint32_t &version) const {
    std::map<std::string, uint64_t> parts;
    size_t at = 0;
    for (const Piece &piece : m_pieces) {
        if (!piece.part) {
            if (name.compare(at, piece.text.size(), piece.text) != 0) return false;
            at += piece.text.size();
        } else if (!ReadNumber(name, at, piece.text == "version", parts[piece.text])) {
            return false;
        }
    }
    if (at != name.size()) return false;
    if (parts.count("version")) {
        version = static_cast<uint32_t>(parts["version"]);
        return true;
    }
    const uint64_t minorLimit = m_patch ? 0xFF : 0xFFFF;
    if (parts["major"] > 0xFFFF || parts["minor"] > minorLimit || parts["patch"] > 0xFF) return false;
    version = static_cast<uint32_t>(parts["major"] << 16 |
                                    (m_patch ? parts["minor"] << 8 | parts["patch"] : parts["minor"]));
    return true;
}

bool FilesByVersion(const std::string &dir, const CVersionPattern &pattern, std::vector<VersionedFile> &files,
                    std::vector<std::string> &skipped, std::string &error) {
    std::error_code code;
    std::vector<std::string> names;
    for (std::filesystem::directory_iterator it(dir, code), end; !code && it != end; it.increment(code))
        if (it->is_regular_file()) names.push_back(it->path().filename().string());
    if (code) {
        error = "cannot read the folder " + dir + ": " + code.message();
        return false;
    }
    std::sort(names.begin(), names.end());
    for (const std::string &name : names) {
        VersionedFile file;
        file.path = (std::filesystem::path(dir) / name).string();
        if (pattern.Match(name, file.version)) files.push_back(file);
        else skipped.push_back(name);
    }
    return true;
}

}  // namespace marvostell::tools
