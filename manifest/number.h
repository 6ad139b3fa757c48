#pragma once

#include <cstdint>

namespace marvostell {

// Reads a manifest number as a 32-bit strtoul with base 0 does: leading white
// space, an optional sign, then hexadecimal after "0x", octal after a leading
// "0", decimal otherwise. "-" negates modulo 2^32; a magnitude above
// 0xFFFFFFFF gives 0xFFFFFFFF; no digits give 0. `stop`, when given, receives
// where reading stopped (the start of `text` when there were no digits).
uint32_t ParseManifestNumber(const char *text, const char **stop = nullptr);

}  // namespace marvostell
