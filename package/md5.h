// MD5 message digest (RFC 1321): start a context, add bytes in any number of
// pieces, finish into 16 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

namespace marvostell {

struct Md5Context {
    uint32_t state[4];
    uint64_t length;      // bytes added so far
    uint8_t pending[64];  // start of an incomplete block
};

void Md5Start(Md5Context &context);
void Md5Add(Md5Context &context, const void *data, size_t size);
// Writes the digest; the context must be started again before reuse.
void Md5Finish(Md5Context &context, uint8_t digest[16]);

}  // namespace marvostell
