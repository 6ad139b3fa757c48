// MD5 (RFC 1321). Whole blocks are digested straight from the caller's
// buffer; only a partial block is copied aside.
#include "package/md5.h"

#include <cstring>

// The digest is checked over whole packages (up to 128 MiB): keep it
// optimised even in a build without optimisation flags.
#if defined(__GNUC__) && !defined(__clang__) && !defined(__OPTIMIZE__)
#pragma GCC optimize("O2")
#endif

namespace marvostell {
namespace {

// Macros rather than inline functions, so that they are expanded even where
// the compiler would not inline.
#define MD5_ROTL(x, n) (((x) << (n)) | ((x) >> (32 - (n))))
// Assembled from bytes: words are little-endian on any host, and compilers
// turn this into one load on little-endian targets.
#define MD5_LOAD(p)                                                         \
    (static_cast<uint32_t>((p)[0]) | (static_cast<uint32_t>((p)[1]) << 8) | \
     (static_cast<uint32_t>((p)[2]) << 16) | (static_cast<uint32_t>((p)[3]) << 24))

inline void Store32(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

// The four auxiliary functions, in forms that need fewer operations:
// F = (x & y) | (~x & z), G = (x & z) | (y & ~z).
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) ((y) ^ ((z) & ((x) ^ (y))))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

#define MD5_STEP(f, a, b, c, d, x, s, t)     \
    do {                                     \
        (a) += f((b), (c), (d)) + (x) + (t); \
        (a) = MD5_ROTL((a), (s)) + (b);       \
    } while (0)

void Md5Blocks(uint32_t state[4], const uint8_t *p, size_t blocks) {
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (; blocks != 0; --blocks, p += 64) {
        const uint32_t x0 = MD5_LOAD(p), x1 = MD5_LOAD(p + 4), x2 = MD5_LOAD(p + 8),
                       x3 = MD5_LOAD(p + 12), x4 = MD5_LOAD(p + 16), x5 = MD5_LOAD(p + 20),
                       x6 = MD5_LOAD(p + 24), x7 = MD5_LOAD(p + 28), x8 = MD5_LOAD(p + 32),
                       x9 = MD5_LOAD(p + 36), x10 = MD5_LOAD(p + 40), x11 = MD5_LOAD(p + 44),
                       x12 = MD5_LOAD(p + 48), x13 = MD5_LOAD(p + 52), x14 = MD5_LOAD(p + 56),
                       x15 = MD5_LOAD(p + 60);
        const uint32_t aa = a, bb = b, cc = c, dd = d;

        MD5_STEP(MD5_F, a, b, c, d, x0, 7, 0xd76aa478);
        MD5_STEP(MD5_F, d, a, b, c, x1, 12, 0xe8c7b756);
        MD5_STEP(MD5_F, c, d, a, b, x2, 17, 0x242070db);
        MD5_STEP(MD5_F, b, c, d, a, x3, 22, 0xc1bdceee);
        MD5_STEP(MD5_F, a, b, c, d, x4, 7, 0xf57c0faf);
        MD5_STEP(MD5_F, d, a, b, c, x5, 12, 0x4787c62a);
        MD5_STEP(MD5_F, c, d, a, b, x6, 17, 0xa8304613);
        MD5_STEP(MD5_F, b, c, d, a, x7, 22, 0xfd469501);
        MD5_STEP(MD5_F, a, b, c, d, x8, 7, 0x698098d8);
        MD5_STEP(MD5_F, d, a, b, c, x9, 12, 0x8b44f7af);
        MD5_STEP(MD5_F, c, d, a, b, x10, 17, 0xffff5bb1);
        MD5_STEP(MD5_F, b, c, d, a, x11, 22, 0x895cd7be);
        MD5_STEP(MD5_F, a, b, c, d, x12, 7, 0x6b901122);
        MD5_STEP(MD5_F, d, a, b, c, x13, 12, 0xfd987193);
        MD5_STEP(MD5_F, c, d, a, b, x14, 17, 0xa679438e);
        MD5_STEP(MD5_F, b, c, d, a, x15, 22, 0x49b40821);

        MD5_STEP(MD5_G, a, b, c, d, x1, 5, 0xf61e2562);
        MD5_STEP(MD5_G, d, a, b, c, x6, 9, 0xc040b340);
        MD5_STEP(MD5_G, c, d, a, b, x11, 14, 0x265e5a51);
        MD5_STEP(MD5_G, b, c, d, a, x0, 20, 0xe9b6c7aa);
        MD5_STEP(MD5_G, a, b, c, d, x5, 5, 0xd62f105d);
        MD5_STEP(MD5_G, d, a, b, c, x10, 9, 0x02441453);
        MD5_STEP(MD5_G, c, d, a, b, x15, 14, 0xd8a1e681);
        MD5_STEP(MD5_G, b, c, d, a, x4, 20, 0xe7d3fbc8);
        MD5_STEP(MD5_G, a, b, c, d, x9, 5, 0x21e1cde6);
        MD5_STEP(MD5_G, d, a, b, c, x14, 9, 0xc33707d6);
        MD5_STEP(MD5_G, c, d, a, b, x3, 14, 0xf4d50d87);
        MD5_STEP(MD5_G, b, c, d, a, x8, 20, 0x455a14ed);
        MD5_STEP(MD5_G, a, b, c, d, x13, 5, 0xa9e3e905);
        MD5_STEP(MD5_G, d, a, b, c, x2, 9, 0xfcefa3f8);
        MD5_STEP(MD5_G, c, d, a, b, x7, 14, 0x676f02d9);
        MD5_STEP(MD5_G, b, c, d, a, x12, 20, 0x8d2a4c8a);

        MD5_STEP(MD5_H, a, b, c, d, x5, 4, 0xfffa3942);
        MD5_STEP(MD5_H, d, a, b, c, x8, 11, 0x8771f681);
        MD5_STEP(MD5_H, c, d, a, b, x11, 16, 0x6d9d6122);
        MD5_STEP(MD5_H, b, c, d, a, x14, 23, 0xfde5380c);
        MD5_STEP(MD5_H, a, b, c, d, x1, 4, 0xa4beea44);
        MD5_STEP(MD5_H, d, a, b, c, x4, 11, 0x4bdecfa9);
        MD5_STEP(MD5_H, c, d, a, b, x7, 16, 0xf6bb4b60);
        MD5_STEP(MD5_H, b, c, d, a, x10, 23, 0xbebfbc70);
        MD5_STEP(MD5_H, a, b, c, d, x13, 4, 0x289b7ec6);
        MD5_STEP(MD5_H, d, a, b, c, x0, 11, 0xeaa127fa);
        MD5_STEP(MD5_H, c, d, a, b, x3, 16, 0xd4ef3085);
        MD5_STEP(MD5_H, b, c, d, a, x6, 23, 0x04881d05);
        MD5_STEP(MD5_H, a, b, c, d, x9, 4, 0xd9d4d039);
        MD5_STEP(MD5_H, d, a, b, c, x12, 11, 0xe6db99e5);
        MD5_STEP(MD5_H, c, d, a, b, x15, 16, 0x1fa27cf8);
        MD5_STEP(MD5_H, b, c, d, a, x2, 23, 0xc4ac5665);

        MD5_STEP(MD5_I, a, b, c, d, x0, 6, 0xf4292244);
        MD5_STEP(MD5_I, d, a, b, c, x7, 10, 0x432aff97);
        MD5_STEP(MD5_I, c, d, a, b, x14, 15, 0xab9423a7);
        MD5_STEP(MD5_I, b, c, d, a, x5, 21, 0xfc93a039);
        MD5_STEP(MD5_I, a, b, c, d, x12, 6, 0x655b59c3);
        MD5_STEP(MD5_I, d, a, b, c, x3, 10, 0x8f0ccc92);
        MD5_STEP(MD5_I, c, d, a, b, x10, 15, 0xffeff47d);
        MD5_STEP(MD5_I, b, c, d, a, x1, 21, 0x85845dd1);
        MD5_STEP(MD5_I, a, b, c, d, x8, 6, 0x6fa87e4f);
        MD5_STEP(MD5_I, d, a, b, c, x15, 10, 0xfe2ce6e0);
        MD5_STEP(MD5_I, c, d, a, b, x6, 15, 0xa3014314);
        MD5_STEP(MD5_I, b, c, d, a, x13, 21, 0x4e0811a1);
        MD5_STEP(MD5_I, a, b, c, d, x4, 6, 0xf7537e82);
        MD5_STEP(MD5_I, d, a, b, c, x11, 10, 0xbd3af235);
        MD5_STEP(MD5_I, c, d, a, b, x2, 15, 0x2ad7d2bb);
        MD5_STEP(MD5_I, b, c, d, a, x9, 21, 0xeb86d391);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state[0] = a;
    state[1] = b;
    state[2] = c;
    state[3] = d;
}

#undef MD5_STEP
#undef MD5_LOAD
#undef MD5_ROTL
#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

}  // namespace

void Md5Start(Md5Context &context) {
    context.state[0] = 0x67452301;
    context.state[1] = 0xefcdab89;
    context.state[2] = 0x98badcfe;
    context.state[3] = 0x10325476;
    context.length = 0;
}

void Md5Add(Md5Context &context, const void *data, size_t size) {
    if (size == 0) return;
    const uint8_t *p = static_cast<const uint8_t *>(data);
    size_t used = static_cast<size_t>(context.length & 63);
    context.length += size;
    if (used != 0) {
        size_t take = 64 - used;
        if (size < take) {
            std::memcpy(context.pending + used, p, size);
            return;
        }
        std::memcpy(context.pending + used, p, take);
        Md5Blocks(context.state, context.pending, 1);
        p += take;
        size -= take;
    }
    if (size >= 64) {
        Md5Blocks(context.state, p, size / 64);
        p += size & ~static_cast<size_t>(63);
        size &= 63;
    }
    if (size != 0) std::memcpy(context.pending, p, size);
}

void Md5Finish(Md5Context &context, uint8_t digest[16]) {
    const uint64_t bits = context.length * 8;
    size_t used = static_cast<size_t>(context.length & 63);
    // Padding: one 0x80 byte, zeros up to 56 mod 64, then the bit length.
    context.pending[used++] = 0x80;
    if (used > 56) {
        std::memset(context.pending + used, 0, 64 - used);
        Md5Blocks(context.state, context.pending, 1);
        used = 0;
    }
    std::memset(context.pending + used, 0, 56 - used);
    for (int i = 0; i < 8; ++i) context.pending[56 + i] = static_cast<uint8_t>(bits >> (8 * i));
    Md5Blocks(context.state, context.pending, 1);
    for (int i = 0; i < 4; ++i) Store32(digest + 4 * i, context.state[i]);
}

}  // namespace marvostell
