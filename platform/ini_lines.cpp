#include "ini_lines.h"

#include <cstdint>
#include <cstring>
#include <utility>

#include "platform/win32.h"

namespace marvostell::ini {
namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The kind, name and value of the content between begin and stop.
void Classify(const char *begin, const char *stop, Line &line) {
    while (begin < stop && IsBlank(*begin)) ++begin;
    if (begin == stop) return;  // kBlank
    if (*begin == ';') {
        line.kind = Line::kComment;
        return;
    }
    if (*begin == '[') {
        // The name runs to the last ']'; what follows it is ignored. A line
        // without one is read as a key line.
        const char *close = stop;
        while (close > begin && close[-1] != ']') --close;
        if (close > begin) {
            line.kind = Line::kSection;
            line.name = Trim(begin + 1, close - 1);
            return;
        }
    }
    const char *eq = static_cast<const char *>(std::memchr(begin, '=', stop - begin));
    if (eq == nullptr) {
        line.kind = Line::kOther;
        return;
    }
    line.kind = Line::kKey;
    line.name = Trim(begin, eq);
    line.value = Trim(eq + 1, stop);
}

}  // namespace

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a'; }

std::string Trim(const char *begin, const char *end) {
    while (begin < end && IsBlank(*begin)) ++begin;
    while (end > begin && IsBlank(end[-1])) --end;
    return std::string(begin, end);
}

std::string Trim(const std::string &text) { return Trim(text.data(), text.data() + text.size()); }

bool SameName(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

std::vector<Line> SplitLines(const std::string &text) {
    std::vector<Line> lines;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        size_t next = end;
        if (next < text.size()) next += text.compare(next, 2, "\r\n") == 0 ? 2 : 1;
        const char *begin = text.data() + pos;
        const char *stop = static_cast<const char *>(std::memchr(begin, '\0', end - pos));
        if (stop == nullptr) stop = text.data() + end;
        Line line;
        line.begin = pos;
        Classify(begin, stop, line);
        lines.push_back(std::move(line));
        pos = next;
    }
    return lines;
}

#ifdef _WIN32

// Windows hands the A functions the text in the ANSI code page.
std::string FileText(const std::string &raw) {
    if (raw.size() < 2 || raw[0] != '\xFF' || raw[1] != '\xFE') return raw;
    std::wstring units;
    for (size_t i = 2; i + 1 < raw.size(); i += 2)
        units += static_cast<wchar_t>(static_cast<unsigned char>(raw[i]) |
                                      static_cast<unsigned char>(raw[i + 1]) << 8);
    if (units.empty()) return "";
    const int size = static_cast<int>(units.size());
    const int length = WideCharToMultiByte(CP_ACP, 0, units.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) WideCharToMultiByte(CP_ACP, 0, units.data(), size, &text[0], length, nullptr, nullptr);
    return text;
}

#else

namespace {

void AppendUtf8(std::string &out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace

std::string FileText(const std::string &raw) {
    if (raw.size() < 2 || raw[0] != '\xFF' || raw[1] != '\xFE') return raw;
    std::string text;
    const size_t units = (raw.size() - 2) / 2;
    auto unit = [&](size_t i) {
        return static_cast<uint32_t>(static_cast<unsigned char>(raw[2 + 2 * i])) |
               static_cast<uint32_t>(static_cast<unsigned char>(raw[3 + 2 * i])) << 8;
    };
    for (size_t i = 0; i < units; ++i) {
        uint32_t c = unit(i);
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units && unit(i + 1) >= 0xDC00 &&
            unit(i + 1) < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unit(++i) - 0xDC00);
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        AppendUtf8(text, c);
    }
    return text;
}

#endif

}  // namespace marvostell::ini
