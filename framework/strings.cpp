#include "framework/strings.h"

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

}  // namespace

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

}  // namespace marvostell
