#include "line_index.h"

#include <utility>

namespace marvostell::tools {

LineIndex::LineIndex(const std::string &text) {
    int section = -1;
    for (ini::Line &split : ini::SplitLines(text)) {
        ManifestLine line;
        static_cast<ini::Line &>(line) = std::move(split);
        line.number = static_cast<int>(m_lines.size()) + 1;
        if (line.kind == ManifestLine::kSection) {
            m_sections.push_back(ManifestSection{line.name, line.number, FindSection(line.name) < 0});
            section = static_cast<int>(m_sections.size()) - 1;
        }
        line.section = section;
        m_lines.push_back(std::move(line));
    }
}

int LineIndex::FindSection(const std::string &name) const {
    for (size_t i = 0; i < m_sections.size(); ++i)
        if (SameName(m_sections[i].name, name)) return static_cast<int>(i);
    return -1;
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
    int number = m_lines.empty() ? 1 : m_lines.front().number;
    for (const ManifestLine &line : m_lines) {
        if (line.begin > offset) break;
        number = line.number;
    }
    return number;
}

}  // namespace marvostell::tools
