// Paths as the profile reader needs them.
#pragma once

#include <string>

namespace marvostell::tools {

// Windows' profile reader looks a name without a directory up in the Windows
// directory, so a manifest given relative to the current directory is made
// absolute there; elsewhere the path is returned as it is.
std::string HostPath(const std::string &path);

}  // namespace marvostell::tools
