// The local file name a Package value gives, and why a host would refuse it.
#pragma once

#include <string>

namespace marvostell::tools {

// The name after the last "/" (the whole value when there is none), as the
// module forms the package's local file name.
std::string LocalNameOf(const std::string &packagePath);

// Empty when hosts accept the name; otherwise why they do not.
std::string RefusedNameReason(const std::string &name);

bool IsAscii(const std::string &text);

}  // namespace marvostell::tools
