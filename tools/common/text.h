// Small text facts the tools share: ASCII case folding, as the profile
// reader compares section and key names.
#pragma once

#include <string>

#include "platform/ini_lines.h"

namespace marvostell::tools {

// The text with A-Z as a-z; other bytes unchanged.
std::string Lower(std::string text);

// Whether two names are the same but for the case of A-Z.
using ini::SameName;

}  // namespace marvostell::tools
