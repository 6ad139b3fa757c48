#include "line_index.h"

#include <algorithm>
#include <utility>

#include "text.h"

namespace marvostell::tools {

LineIndex::LineIndex(const std::string &text) {
    int section = -1;
    for (ini::Line &split : ini::SplitLines(text)) {
        ManifestLine line;
        static_cast<ini::Line &>(line) = std::move(split);
        line.number = static_cast<int>(m_lines.size()) + 1;
        if (line.kind == ManifestLine::kSection) {
            section = static_cast<int>(m_sections.size());
            const bool first = m_firstSection.emplace(Lower(line.name), section).second;
            m_sections.push_back(ManifestSection{line.name, line.number, first});
        }
        line.section = section;
        m_lines.push_back(std::move(line));
    }
}

int LineIndex::FindSection(const std::string &name) const {
    const auto found = m_firstSection.find(Lower(name));
    return found == m_firstSection.end() ? -1 : found->second;
}

int LineIndex::SectionLine(const std::string &name) const {
    const int s = FindSection(name);
    return s < 0 ? 0 : m_sections[s].line;
}

int LineIndex::KeyLine(const std::string &section, const std::string &key) const {
    const int s = FindSection(section);
    if (s < 0) return 0;
    for (const ManifestLine &line : m_lines)
        if (line.section == s && line.kind == ManifestLine::kKey && SameName(line.name, key))
            return line.number;
    return m_sections[s].line;
}

int LineIndex::LineAt(size_t offset) const {
    // The last line that begins at or before `offset`.
    const auto after = std::upper_bound(m_lines.begin(), m_lines.end(), offset,
                                        [](size_t at, const ManifestLine &line) { return at < line.begin; });
    return after == m_lines.begin() ? 1 : std::prev(after)->number;
}

}  // namespace marvostell::tools
