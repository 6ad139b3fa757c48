#include "package/hex.h"

namespace marvostell {

int HexEncode(const uint8_t *bytes, uint32_t count, char *out, uint32_t capacity) {
    if (!bytes || !out || capacity < 2ull * count) return 0;
    static const char kDigits[] = "0123456789ABCDEF";
    for (uint32_t i = 0; i < count; ++i) {
        out[2 * i] = kDigits[bytes[i] >> 4];
        out[2 * i + 1] = kDigits[bytes[i] & 0x0F];
    }
    return 1;
}

}  // namespace marvostell
