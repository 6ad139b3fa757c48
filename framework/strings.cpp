#include "framework/strings.h"

#include <cctype>

#include "platform/win32.h"

namespace marvostell {
namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Calls visit(position) for the first byte of every character, left to right.
template <typename Visit>
void ForEachCharStart(const std::string &text, Visit visit) {
    for (std::string::size_type i = 0; i < text.size(); ++i) {
        visit(i);
        if (IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < text.size()) ++i;
    }
}

// Keeps the characters up to the last one that `keep` accepts.
template <typename Keep>
void TrimTrailingWhere(std::string &text, Keep keep) {
    std::string::size_type end = 0;
    ForEachCharStart(text, [&](std::string::size_type i) {
        if (keep(i)) {
            const bool lead = IsDBCSLeadByte(static_cast<BYTE>(text[i])) && i + 1 < text.size();
            end = i + (lead ? 2 : 1);
        }
    });
    text.resize(end);
}

bool IsUtf8Continuation(char c) { return (static_cast<BYTE>(c) & 0xC0) == 0x80; }

// Whether `i` is inside a UTF-8 sequence that starts before it.
bool InsideUtf8Sequence(const std::string &text, std::string::size_type i) {
    if (!IsUtf8Continuation(text[i])) return false;
    std::string::size_type lead = i;
    while (lead > 0 && i - lead < 3 && IsUtf8Continuation(text[lead])) --lead;
    const BYTE c = static_cast<BYTE>(text[lead]);
    const std::string::size_type length = c >= 0xF8 ? 1 : c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    return lead + length > i;
}

}  // namespace

void CutAtCharacter(std::string &text, std::string::size_type maxBytes) {
    if (text.size() <= maxBytes) return;
    std::string::size_type end = 0;
    ForEachCharStart(text, [&](std::string::size_type i) {
        if (i <= maxBytes && !InsideUtf8Sequence(text, i)) end = i;
    });
    text.resize(end);
}

void TrimWhitespace(std::string &text) {
    TrimTrailingWhere(text, [&](std::string::size_type i) { return !IsBlank(text[i]); });
    std::string::size_type start = 0;
    while (start < text.size() && IsBlank(text[start])) ++start;
    text.erase(0, start);
}

void TrimTrailing(std::string &text, char c) {
    TrimTrailingWhere(text, [&](std::string::size_type i) { return text[i] != c; });
}

std::string::size_type FindLastChar(const std::string &text, char c) {
    std::string::size_type found = std::string::npos;
    ForEachCharStart(text, [&](std::string::size_type i) {
        if (text[i] == c) found = i;
    });
    return found;
}

bool EqualIgnoringAsciiCase(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (std::string::size_type i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace marvostell
