// The text edits of signing and of a rollout: the signature line taken off
// and put back as the last line, a key set or taken out (Expires in
// [General], a package's Rollout). Line ends stay the manifest's.
#pragma once

#include <string>

namespace marvostell::tools {

// "\r\n" when the manifest's first line ends so, else "\n".
std::string LineEndOf(const std::string &text);

// The text without its signature lines (";signature=" in the first column);
// `notLast` counts those that were not the last line.
std::string WithoutSignature(const std::string &text, int &notLast);

// The text with the first `key` of [section] (the one hosts read) set to
// `value`, or a line for it added after the section's last key. False when
// there is no such section.
bool WithKey(const std::string &text, const std::string &section, const std::string &key,
             const std::string &value, std::string &out);

// The text without the lines of `key` in [section] (the one hosts read).
std::string WithoutKey(const std::string &text, const std::string &section, const std::string &key);

// The text with [General]'s first Expires set to `date`, or an Expires line
// added after [General]'s last key. False when there is no [General].
bool WithExpires(const std::string &text, const std::string &date, std::string &out);

// The text ended by its line end, if it was not: what a signature covers.
std::string EndedText(const std::string &text);

// The signature line, with the manifest's line end.
std::string SignatureLine(const std::string &text, const std::string &signature);

}  // namespace marvostell::tools
