// How a profile (INI) file's text splits into lines, as the Windows profile
// reader splits it: LF, CRLF or a lone CR end a line; a NUL ends its content;
// blanks around names and values are trimmed; ";" first makes a comment; a
// "[" line names a section up to its last "]"; a line with "=" is a key.
// The profile rules (profile_text.h) and the manifest tool's line index
// both read text through this one unit.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace marvostell::ini {

// The blanks the reader trims: spaces and tabs, and also vertical tab, form
// feed and the old end-of-file mark ^Z.
bool IsBlank(char c);
std::string Trim(const char *begin, const char *end);
std::string Trim(const std::string &text);

// Names match without regard to ASCII case.
bool SameName(const std::string &a, const std::string &b);

struct Line {
    // kOther: neither blank, comment, section nor key (no "=" in it).
    enum Kind { kBlank, kComment, kSection, kKey, kOther };
    Kind kind = kBlank;
    std::string name;   // section or key name, trimmed
    std::string value;  // key: the value trimmed, quotes kept
    size_t begin = 0;   // offset of the line's first byte in the text
};

std::vector<Line> SplitLines(const std::string &text);

// The text the profile reader reads from a file's bytes. Windows reads a
// file that starts with the UTF-16LE byte-order mark as Unicode and hands the
// A function its text in the system code page: the ANSI code page on
// Windows, UTF-8 on POSIX (where a lone surrogate becomes U+FFFD, as in
// Windows' conversion to UTF-8). An odd last byte is no character. Any
// other file, one with a UTF-8 mark included, is read as bytes: Windows does
// not skip that mark.
std::string FileText(const std::string &bytes);

}  // namespace marvostell::ini
