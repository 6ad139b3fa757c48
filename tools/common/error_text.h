// Short texts for Internet and system error numbers, for one-line messages.
#pragma once

#include <cstdint>
#include <string>

namespace marvostell::tools {

// "error 12029 (cannot connect)"; the bare number for codes without a text here.
std::string InternetErrorText(uint32_t error);

}  // namespace marvostell::tools
