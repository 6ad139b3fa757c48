#pragma once

#include <cstddef>
#include <cstdint>

namespace marvostell {

// Writes 2 x count upper-case hexadecimal digits, high half first, and no
// terminator. Writes nothing and returns 0 when either pointer is null or the
// capacity (in characters) is less than 2 x count; otherwise returns 1.
int HexEncode(const uint8_t *bytes, uint32_t count, char *out, uint32_t capacity);

}  // namespace marvostell
