// Why hosts would refuse a package's local file name, in words.
#pragma once

#include <string>

namespace marvostell::tools {

// Empty when hosts accept the name (the core's IsSafeLocalName); otherwise
// why they do not.
std::string RefusedNameReason(const std::string &name);

bool IsAscii(const std::string &text);

}  // namespace marvostell::tools
