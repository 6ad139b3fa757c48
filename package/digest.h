// A package's digest as the manifest writes it: MD5 in upper-case hexadecimal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "package/md5.h"

namespace marvostell {

// The bytes as hexadecimal digits, upper case, high half first.
std::string DigestHex(const uint8_t *bytes, size_t count);

// MD5 of bytes added in any number of pieces, finished as DigestHex text.
class CMd5Hex {
public:
    CMd5Hex() { Md5Start(m_context); }
    void Add(const void *data, size_t size) { Md5Add(m_context, data, size); }
    // The digest of what was added; the object starts afresh after it.
    std::string Finish();

private:
    Md5Context m_context;
};

}  // namespace marvostell
