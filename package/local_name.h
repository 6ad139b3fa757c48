// The local file name a package may have.
#pragma once

#include <string>

namespace marvostell {

// Whether the module accepts `name` (the Package value after its last "/") as
// the name of the package's file in the local directory.
bool IsSafeLocalName(const std::string &name);

}  // namespace marvostell
