#include "package/digest.h"

namespace marvostell {

std::string DigestHex(const uint8_t *bytes, size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(2 * count);
    for (size_t i = 0; i < count; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0x0F];
    }
    return hex;
}

std::string CMd5Hex::Finish() {
    uint8_t digest[16];
    Md5Finish(m_context, digest);
    Md5Start(m_context);
    return DigestHex(digest, sizeof digest);
}

}  // namespace marvostell
