// The Windows profile reader's answers (GetPrivateProfileStringA) over a
// profile's text instead of a file: which section and key a name finds,
// quotes, defaults, the truncation to the buffer and the lists of names.
// The POSIX reader answers from a file's text through it, and the module
// reads a manifest it fetched through it, from the bytes as they came: the
// same answers as the stored copy gives, without reading that copy again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace marvostell::ini {

class CProfileText {
public:
    // `text` as FileText (ini_lines.h) gives it from a file's bytes.
    explicit CProfileText(const std::string &text);

    // GetPrivateProfileStringA(section, key, defaultValue, out, size) on a
    // file holding the text: the characters written (a list's terminators
    // but its last one included). `truncated`, when given, tells whether the
    // answer was cut to the buffer (Windows' ERROR_MORE_DATA).
    uint32_t Read(const char *section, const char *key, const char *defaultValue, char *out,
                  uint32_t size, bool *truncated = nullptr) const;

private:
    struct Entry {
        std::string name;
        std::string value;
    };
    struct Section {
        std::string name;
        std::vector<Entry> entries;
    };
    const Section *Find(const char *name) const;

    // The keys before the first header belong to a first section with an
    // empty name.
    std::vector<Section> m_sections;
};

}  // namespace marvostell::ini
