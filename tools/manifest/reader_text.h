// The text the profile reader sees in a manifest's bytes. A file that starts
// with the UTF-16LE byte-order mark is read as Unicode and handed to the A
// functions in the system's code page (the ANSI code page on Windows, UTF-8
// on Linux, as the POSIX reader does); any other file is read as its bytes.
#pragma once

#include <string>

namespace marvostell::tools {

bool IsUtf16Le(const std::string &bytes);

// The text without the mark, converted; other bytes as they are.
std::string ReaderText(const std::string &bytes);

}  // namespace marvostell::tools
