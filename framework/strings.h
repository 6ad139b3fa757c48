// String helpers of the kind the module's framework supplied: white-space
// trimming and character search that never split a double-byte character.
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

}  // namespace marvostell
