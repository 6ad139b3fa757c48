#include "platform/profile_text.h"

#include <cstring>
#include <utility>

#include "platform/ini_lines.h"

namespace marvostell::ini {
namespace {

// A value wrapped in a matching pair of quotes loses them.
std::string StripQuotes(const std::string &v) {
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
        return v.substr(1, v.size() - 2);
    return v;
}

// Copies a value or default: at most size-1 characters and a terminator.
uint32_t CopyText(const std::string &text, char *out, uint32_t size, bool &truncated) {
    if (size == 0) return 0;
    size_t n = text.size();
    if (n > size - 1) {
        n = size - 1;
        truncated = true;
    }
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
    return static_cast<uint32_t>(n);
}

// Copies a list of names, each with its terminator, and the final extra
// terminator. When that does not fit with a byte to spare, Windows fills
// the buffer with the first size-2 characters of the list and two
// terminators (the last name is cut where the buffer ends) and returns
// size-2.
uint32_t CopyList(const std::vector<std::string> &names, char *out, uint32_t size,
                  bool &truncated) {
    std::string list;
    for (const std::string &n : names) {
        list += n;
        list += '\0';
    }
    if (size == 0) return 0;
    if (list.empty() || size >= list.size() + 2) {
        std::memcpy(out, list.data(), list.size());
        out[list.size()] = '\0';
        return static_cast<uint32_t>(list.size());
    }
    truncated = true;
    if (size == 1) {
        out[0] = '\0';
        return 0;
    }
    std::memcpy(out, list.data(), size - 2);
    out[size - 2] = '\0';
    out[size - 1] = '\0';
    return size - 2;
}

// The default as Windows hands it back: trailing spaces removed, then a
// pair of quotes around it removed as from a value.
std::string DefaultText(const char *defaultValue) {
    if (!defaultValue) return std::string();
    std::string d(defaultValue);
    while (!d.empty() && d.back() == ' ') d.pop_back();
    return StripQuotes(d);
}

}  // namespace

CProfileText::CProfileText(const std::string &text) : m_sections(1) {
    for (const Line &line : SplitLines(text)) {
        if (line.kind == Line::kSection)
            m_sections.push_back(Section{line.name, {}});
        else if (line.kind == Line::kKey)
            m_sections.back().entries.push_back(Entry{line.name, StripQuotes(line.value)});
    }
}

const CProfileText::Section *CProfileText::Find(const char *name) const {
    const std::string wanted = Trim(name);
    for (const Section &s : m_sections)
        if (SameName(s.name, wanted)) return &s;
    return nullptr;
}

uint32_t CProfileText::Read(const char *section, const char *key, const char *defaultValue,
                            char *out, uint32_t size, bool *truncated) const {
    bool cut = false;
    uint32_t result;
    if (!section) {
        std::vector<std::string> names;
        for (const Section &s : m_sections)
            if (!s.name.empty()) names.push_back(s.name);
        result = CopyList(names, out, size, cut);
    } else {
        const Section *found = Find(section);
        if (found && !key && !found->entries.empty()) {
            std::vector<std::string> names;
            for (const Entry &e : found->entries) names.push_back(e.name);
            result = CopyList(names, out, size, cut);
        } else {
            // A missing key or section, and a section without keys when its
            // key list is asked for, give the default. The first of
            // duplicate sections and keys counts.
            const Entry *entry = nullptr;
            if (found && key) {
                const std::string wanted = Trim(key);
                for (const Entry &e : found->entries) {
                    if (SameName(e.name, wanted)) {
                        entry = &e;
                        break;
                    }
                }
            }
            result = CopyText(entry ? entry->value : DefaultText(defaultValue), out, size, cut);
        }
    }
    if (truncated) *truncated = cut;
    return result;
}

}  // namespace marvostell::ini
