#include "line_index.h"

#include <cstring>

namespace marvostell::tools {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a'; }

std::string Trim(const char *begin, const char *end) {
    while (begin < end && IsBlank(*begin)) ++begin;
    while (end > begin && IsBlank(end[-1])) --end;
    return std::string(begin, end);
}

}  // namespace

LineIndex::LineIndex(const std::string &text) {
    size_t pos = 0;
    int number = 0;
    int section = -1;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        size_t next = end;
        if (next < text.size()) next += text.compare(next, 2, "\r\n") == 0 ? 2 : 1;
        ManifestLine line;
        line.number = ++number;
        line.begin = pos;
        const char *begin = text.data() + pos;
        const char *stop = static_cast<const char *>(std::memchr(begin, '\0', end - pos));
        if (!stop) stop = text.data() + end;
        pos = next;

        while (begin < stop && IsBlank(*begin)) ++begin;
        if (begin == stop) {
            line.kind = ManifestLine::kBlank;
        } else if (*begin == ';') {
            line.kind = ManifestLine::kComment;
        } else {
            const char *close = stop;
            while (*begin == '[' && close > begin && close[-1] != ']') --close;
            const char *eq = static_cast<const char *>(std::memchr(begin, '=', stop - begin));
            if (*begin == '[' && close > begin) {
                line.kind = ManifestLine::kSection;
                line.name = Trim(begin + 1, close - 1);
                ManifestSection s{line.name, line.number, FindSection(line.name) < 0};
                m_sections.push_back(s);
                section = static_cast<int>(m_sections.size()) - 1;
            } else if (eq) {
                line.kind = ManifestLine::kKey;
                line.name = Trim(begin, eq);
                line.value = Trim(eq + 1, stop);
            } else {
                line.kind = ManifestLine::kOther;
            }
        }
        line.section = section;
        m_lines.push_back(line);
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
