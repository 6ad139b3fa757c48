// Where things are in a manifest's text: each line's kind, section and key,
// split by the profile reader's own line rule (platform/ini_lines.h). It only
// locates; what a host reads is asked of the reader itself.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/ini_lines.h"

namespace marvostell::tools {

// A line as split (kind, name, value, offset), numbered and placed.
struct ManifestLine : ini::Line {
    int number = 0;
    int section = -1;  // index into LineIndex::Sections(), -1 before the first
};

struct ManifestSection {
    std::string name;
    int line = 0;
    bool first = true;  // the first section of this name (the one hosts read)
};

using ini::SameName;

class LineIndex {
public:
    explicit LineIndex(const std::string &text);
    const std::vector<ManifestLine> &Lines() const { return m_lines; }
    const std::vector<ManifestSection> &Sections() const { return m_sections; }
    // Index of the first section of that name, or -1.
    int FindSection(const std::string &name) const;
    // Line of the section's header; 0 when there is none.
    int SectionLine(const std::string &name) const;
    // Line of the first key of that name in the section hosts read; the
    // section's line when the key is missing, 0 when the section is.
    int KeyLine(const std::string &section, const std::string &key) const;
    // The line holding byte `offset`.
    int LineAt(size_t offset) const;

private:
    std::vector<ManifestLine> m_lines;
    std::vector<ManifestSection> m_sections;
    std::map<std::string, int> m_firstSection;  // by lower-case name: linear in the text
};

}  // namespace marvostell::tools
