// The text edits of signing: the signature line taken off and put back as
// the last line, and Expires set in [General]. Line ends stay the manifest's.
#pragma once

#include <string>

namespace marvostell::tools {

// "\r\n" when the manifest's first line ends so, else "\n".
std::string LineEndOf(const std::string &text);

// The text without its signature lines (";signature=" in the first column);
// `notLast` counts those that were not the last line.
std::string WithoutSignature(const std::string &text, int &notLast);

// The text with [General]'s first Expires set to `date`, or an Expires line
// added after [General]'s last key. False when there is no [General].
bool WithExpires(const std::string &text, const std::string &date, std::string &out);

// The text ended by its line end, if it was not: what a signature covers.
std::string EndedText(const std::string &text);

// The signature line, with the manifest's line end.
std::string SignatureLine(const std::string &text, const std::string &signature);

}  // namespace marvostell::tools
