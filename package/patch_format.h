// The patch file's header and control triples, as docs/patch-format.md
// writes them out byte for byte. Shared by the applier and the tool that
// makes patches, so that both read and write one layout.
#pragma once

#include <cstdint>
#include <cstring>

namespace marvostell {

constexpr uint8_t kPatchMagic[8] = {'M', 'V', 'S', 'P', 'A', 'T', 'C', 'H'};
constexpr uint32_t kPatchVersion = 1;
constexpr uint32_t kPatchHeaderSize = 80;
constexpr uint32_t kControlTripleSize = 24;
// The largest base and result: every position in them then fits the signed
// 32-bit distance of a seek.
constexpr uint64_t kMaxPatchFileSize = 0x80000000;  // 2 GiB

// The three streams, in the order they follow the header.
enum PatchStream { kControlStream, kDiffStream, kExtraStream, kPatchStreams };

struct PatchHeader {
    uint32_t version = kPatchVersion;
    uint32_t flags = 0;
    uint64_t newSize = 0;
    uint64_t oldSize = 0;
    uint64_t packedSize[kPatchStreams] = {};    // the zlib stream's length in the file
    uint64_t unpackedSize[kPatchStreams] = {};  // the bytes it inflates to
};

// One instruction: `add` bytes of the base, each plus the next diff byte,
// then `extra` bytes of the extra stream; then the base position moves by
// `seek` from the end of the bytes added.
struct ControlTriple {
    uint64_t add = 0;
    uint64_t extra = 0;
    int64_t seek = 0;
};

inline uint64_t LoadLe64(const uint8_t *p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) value = value << 8 | p[i];
    return value;
}

inline void StoreLe64(uint8_t *p, uint64_t value) {
    for (int i = 0; i < 8; ++i, value >>= 8) p[i] = static_cast<uint8_t>(value);
}

inline void StoreLe32(uint8_t *p, uint32_t value) {
    for (int i = 0; i < 4; ++i, value >>= 8) p[i] = static_cast<uint8_t>(value);
}

inline uint32_t LoadLe32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
}

inline void EncodePatchHeader(const PatchHeader &header, uint8_t *out) {
    std::memcpy(out, kPatchMagic, sizeof kPatchMagic);
    StoreLe32(out + 8, header.version);
    StoreLe32(out + 12, header.flags);
    StoreLe64(out + 16, header.newSize);
    StoreLe64(out + 24, header.oldSize);
    for (int s = 0; s < kPatchStreams; ++s) {
        StoreLe64(out + 32 + 16 * s, header.packedSize[s]);
        StoreLe64(out + 40 + 16 * s, header.unpackedSize[s]);
    }
}

// False when the magic is not ours; the fields are read either way.
inline bool DecodePatchHeader(const uint8_t *in, PatchHeader &header) {
    header.version = LoadLe32(in + 8);
    header.flags = LoadLe32(in + 12);
    header.newSize = LoadLe64(in + 16);
    header.oldSize = LoadLe64(in + 24);
    for (int s = 0; s < kPatchStreams; ++s) {
        header.packedSize[s] = LoadLe64(in + 32 + 16 * s);
        header.unpackedSize[s] = LoadLe64(in + 40 + 16 * s);
    }
    return std::memcmp(in, kPatchMagic, sizeof kPatchMagic) == 0;
}

// The seek is two's complement.
inline void EncodeControlTriple(const ControlTriple &triple, uint8_t *out) {
    StoreLe64(out, triple.add);
    StoreLe64(out + 8, triple.extra);
    StoreLe64(out + 16, static_cast<uint64_t>(triple.seek));
}

inline ControlTriple DecodeControlTriple(const uint8_t *in) {
    ControlTriple triple;
    triple.add = LoadLe64(in);
    triple.extra = LoadLe64(in + 8);
    triple.seek = static_cast<int64_t>(LoadLe64(in + 16));
    return triple;
}

}  // namespace marvostell
