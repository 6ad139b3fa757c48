// String helpers of the kind the module's framework supplied: white-space
// trimming, character search and cutting that never split a double-byte
// character.
#pragma once

#include <string>

namespace marvostell {

// Removes leading and trailing white space (space, tab, CR, LF, VT, FF).
void TrimWhitespace(std::string &text);

// Removes every trailing occurrence of `c`, a run of several included.
void TrimTrailing(std::string &text, char c);

// Position of the last `c` that is a character of its own (not the second
// byte of a double-byte character), or std::string::npos.
std::string::size_type FindLastChar(const std::string &text, char c);

// Whether `a` and `b` are the same but for the case of ASCII letters (hex
// digits, file names as Windows compares them).
bool EqualIgnoringAsciiCase(const std::string &a, const std::string &b);

// Cuts `text` to at most `maxBytes` bytes, at a character boundary: never
// inside a double-byte character, nor inside a UTF-8 sequence.
void CutAtCharacter(std::string &text, std::string::size_type maxBytes);

}  // namespace marvostell
