// The patch applier and the packed-file inflater on any input, against a
// reference that inflates each stream whole with zlib's own uncompress2 and
// applies the triples in memory: both must accept the same inputs and make
// the same bytes, and the streaming one never writes past the expected size.
//
// Input: a byte whose low bit chooses; 0: a 16-bit little-endian length L,
// L bytes of base, then the patch; 1: a 32-bit little-endian expected size,
// then the packed file.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/files.h"
#include "fuzz_files.h"
#include "package/packed_inflate.h"
#include "package/patch_apply.h"

namespace {

using marvostell::kMaxPatchFileSize;
using Bytes = std::vector<uint8_t>;

// One zlib stream that is exactly `packed` and inflates to exactly `size`.
bool Inflate(const uint8_t *packed, uint64_t packedSize, uint64_t size, Bytes &out) {
    // No deflate stream gets past about 1032 bytes out for each byte in.
    if (size > packedSize * 1100 + 1024) return false;
    out.assign(size + 1, 0);
    uLongf produced = static_cast<uLongf>(out.size());
    uLong consumed = static_cast<uLong>(packedSize);
    const int status = uncompress2(out.data(), &produced, packed, &consumed);
    out.resize(size);
    return status == Z_OK && consumed == packedSize && produced == size;
}

bool ReferencePatch(const Bytes &base, const uint8_t *patch, size_t size, uint64_t &newSize, Bytes &out) {
    using namespace marvostell;
    PatchHeader h;
    if (size < kPatchHeaderSize || !DecodePatchHeader(patch, h)) return false;
    newSize = h.newSize;
    const uint64_t *u = h.unpackedSize, *p = h.packedSize;
    if (h.version != kPatchVersion || h.flags != 0 || h.oldSize != base.size() || h.newSize > kMaxPatchFileSize ||
        h.oldSize > kMaxPatchFileSize || u[kControlStream] % kControlTripleSize != 0 ||
        u[kControlStream] / kControlTripleSize > h.newSize + 1 || u[kDiffStream] > h.newSize ||
        u[kExtraStream] > h.newSize || u[kDiffStream] + u[kExtraStream] != h.newSize || p[0] > size || p[1] > size ||
        p[2] > size || kPatchHeaderSize + p[0] + p[1] + p[2] != size)
        return false;
    Bytes streams[kPatchStreams];
    for (uint64_t s = 0, at = kPatchHeaderSize; s < kPatchStreams; at += p[s++])
        if (!Inflate(patch + at, p[s], u[s], streams[s])) return false;
    uint64_t oldPos = 0, diffAt = 0, extraAt = 0;
    for (uint64_t t = 0; t < u[kControlStream] / kControlTripleSize; ++t) {
        const ControlTriple c = DecodeControlTriple(&streams[kControlStream][t * kControlTripleSize]);
        const uint64_t room = h.newSize - out.size();
        if (c.add > room || c.extra > room - c.add || (t > 0 && c.add + c.extra == 0) || c.add > h.oldSize - oldPos)
            return false;
        for (uint64_t i = 0; i < c.add; ++i)
            out.push_back(static_cast<uint8_t>(base[oldPos + i] + streams[kDiffStream][diffAt + i]));
        const Bytes &extra = streams[kExtraStream];
        out.insert(out.end(), extra.begin() + extraAt, extra.begin() + extraAt + c.extra);
        oldPos += c.add;
        diffAt += c.add;
        extraAt += c.extra;
        if (c.seek < -static_cast<int64_t>(oldPos) || c.seek > static_cast<int64_t>(h.oldSize - oldPos)) return false;
        oldPos += c.seek;
    }
    return out.size() == h.newSize;
}

Bytes ReadBack(const std::string &path) {
    Bytes data;
    if (FILE *f = std::fopen(path.c_str(), "rb")) {
        for (int c; (c = std::fgetc(f)) != EOF;) data.push_back(static_cast<uint8_t>(c));
        std::fclose(f);
    }
    return data;
}

HANDLE Open(const std::string &path, bool write) {
    return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, write ? 0 : FILE_SHARE_READ, nullptr,
                       write ? OPEN_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace marvostell;
    const bool packedMode = size > 0 && (data[0] & 1);
    const size_t lengthBytes = packedMode ? 4 : 2;
    if (size < 1 + lengthBytes) return 0;
    uint64_t number = 0;
    for (size_t i = lengthBytes; i > 0; --i) number = number << 8 | data[i];
    const uint8_t *rest = data + 1 + lengthBytes;
    size_t restSize = size - 1 - lengthBytes;
    Bytes base;
    if (!packedMode) {
        if (number > restSize) return 0;
        base.assign(rest, rest + number);
        rest += number;
        restSize -= number;
    }

    const std::string &dir = fuzzing::ScratchDir();
    fuzzing::WriteWhole(dir + "/input", rest, restSize);
    fuzzing::WriteWhole(dir + "/base", base.data(), base.size());
    fuzzing::WriteWhole(dir + "/output", nullptr, 0);
    Bytes want;
    bool accepted;
    uint64_t expected = number;
    DeltaResult result;
    {
        CFileHandle input(Open(dir + "/input", false)), baseFile(Open(dir + "/base", false)),
            output(Open(dir + "/output", true));
        if (packedMode) {
            accepted = restSize < kMaxPatchFileSize && number <= kMaxPatchFileSize &&
                       Inflate(rest, restSize, number, want);
            result = InflatePacked(input.Get(), output.Get(), number);
        } else {
            accepted = ReferencePatch(base, rest, restSize, expected, want);
            result = ApplyPatch(baseFile.Get(), input.Get(), output.Get(), expected);
        }
    }
    const Bytes made = ReadBack(dir + "/output");
    for (const char *name : {"/input", "/base", "/output"}) std::remove((dir + name).c_str());
    if (result.Ok() != accepted || made.size() > expected || (accepted && made != want)) std::abort();
    return 0;
}
