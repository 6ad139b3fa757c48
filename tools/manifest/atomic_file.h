// Writing a file in one step: readers see the old text or the new, never part.
#pragma once

#include <string>

namespace marvostell::tools {

// Writes `text` to a new file beside `path` and renames it over `path`,
// keeping the mode of the file it replaces (POSIX). False with a message.
bool WriteReplacing(const std::string &path, const std::string &text, std::string &error);

// Whether the two names lead to one existing file (another spelling, a link
// or a different case on Windows included).
bool SameFile(const std::string &a, const std::string &b);

}  // namespace marvostell::tools
