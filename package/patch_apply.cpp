#include "package/patch_apply.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

namespace marvostell {
namespace {

constexpr DWORD kStreamInput = 16384;

struct ApplyBuffers {
    BYTE output[kDeltaPiece];
    BYTE diff[kDeltaPiece];
    BYTE base[kDeltaPiece];
    BYTE input[kPatchStreams][kStreamInput];
};

// The base through a window of kDeltaPiece bytes: triples mostly move
// forward through it a few bytes at a time, so most reads are copies.
class CBaseWindow {
public:
    CBaseWindow(HANDLE file, uint64_t size, BYTE *window) : m_hFile(file), m_nSize(size), m_pWindow(window) {}

    // [position, position + count) lies within the base; count <= kDeltaPiece.
    DeltaResult Read(uint64_t position, BYTE *out, DWORD count) {
        if (position < m_nStart || position + count > m_nStart + m_nHeld) {
            m_nHeld = static_cast<DWORD>(std::min<uint64_t>(kDeltaPiece, m_nSize - position));
            m_nStart = position;
            const DeltaResult read =
                ReadFileAt(m_hFile, position, m_pWindow, m_nHeld, DeltaFault::kBaseRead, DeltaFault::kBaseSize);
            if (!read.Ok()) {
                m_nHeld = 0;
                return read;
            }
        }
        std::memcpy(out, m_pWindow + (position - m_nStart), count);
        return {};
    }

private:
    HANDLE m_hFile;
    uint64_t m_nSize;
    BYTE *m_pWindow;
    uint64_t m_nStart = 0;
    DWORD m_nHeld = 0;
};

}  // namespace

DeltaResult ReadPatchHeader(HANDLE patch, PatchHeader &header) {
    uint64_t fileSize = 0;
    DeltaResult result = FileSizeOf(patch, DeltaFault::kInputRead, fileSize);
    if (!result.Ok()) return result;
    if (fileSize < kPatchHeaderSize) return DeltaResult::Failure(DeltaFault::kHeader);
    BYTE raw[kPatchHeaderSize];
    result = ReadFileAt(patch, 0, raw, sizeof raw, DeltaFault::kInputRead, DeltaFault::kHeader);
    if (!result.Ok()) return result;
    if (!DecodePatchHeader(raw, header) || header.version != kPatchVersion || header.flags != 0)
        return DeltaResult::Failure(DeltaFault::kHeader);

    const uint64_t *unpacked = header.unpackedSize;
    const uint64_t *packed = header.packedSize;
    // Every file position stays below 2 GiB; every triple but the first
    // writes a byte; each result byte comes from the diff or the extra
    // stream; the streams fill the file after the header exactly.
    const bool bounded = fileSize < kMaxPatchFileSize && header.newSize <= kMaxPatchFileSize &&
                         header.oldSize <= kMaxPatchFileSize &&
                         unpacked[kControlStream] % kControlTripleSize == 0 &&
                         unpacked[kControlStream] / kControlTripleSize <= header.newSize + 1 &&
                         unpacked[kDiffStream] <= header.newSize && unpacked[kExtraStream] <= header.newSize &&
                         unpacked[kDiffStream] + unpacked[kExtraStream] == header.newSize &&
                         packed[kControlStream] <= fileSize && packed[kDiffStream] <= fileSize &&
                         packed[kExtraStream] <= fileSize &&
                         kPatchHeaderSize + packed[kControlStream] + packed[kDiffStream] + packed[kExtraStream] ==
                             fileSize;
    return bounded ? DeltaResult{} : DeltaResult::Failure(DeltaFault::kLengths);
}

DeltaResult ApplyPatch(HANDLE base, HANDLE patch, HANDLE output, uint64_t expectedSize,
                       const DeltaControl &control) {
    PatchHeader header;
    DeltaResult result = ReadPatchHeader(patch, header);
    if (!result.Ok()) return result;
    if (header.newSize != expectedSize) return DeltaResult::Failure(DeltaFault::kLengths);
    uint64_t baseSize = 0;
    result = FileSizeOf(base, DeltaFault::kBaseRead, baseSize);
    if (!result.Ok()) return result;
    if (baseSize != header.oldSize) return DeltaResult::Failure(DeltaFault::kBaseSize);

    const std::unique_ptr<ApplyBuffers> buffers(new (std::nothrow) ApplyBuffers);
    if (!buffers) return DeltaResult::Failure(DeltaFault::kMemory);
    CInflateStream controlStream(patch, buffers->input[kControlStream], kStreamInput);
    CInflateStream diff(patch, buffers->input[kDiffStream], kStreamInput);
    CInflateStream extra(patch, buffers->input[kExtraStream], kStreamInput);
    CInflateStream *streams[kPatchStreams] = {&controlStream, &diff, &extra};
    uint64_t offset = kPatchHeaderSize;
    for (int s = 0; s < kPatchStreams; ++s) {
        result = streams[s]->Open(offset, header.packedSize[s], header.unpackedSize[s]);
        if (!result.Ok()) return result;
        offset += header.packedSize[s];
    }

    CBaseWindow baseWindow(base, header.oldSize, buffers->base);
    CDeltaWriter writer(output, buffers->output, control);
    uint64_t newPos = 0, oldPos = 0;
    const uint64_t triples = header.unpackedSize[kControlStream] / kControlTripleSize;
    for (uint64_t t = 0; t < triples; ++t) {
        BYTE raw[kControlTripleSize];
        if (!(result = controlStream.Read(raw, sizeof raw)).Ok()) return result;
        const ControlTriple triple = DecodeControlTriple(raw);
        const uint64_t room = header.newSize - newPos;
        if (triple.add > room || triple.extra > room - triple.add || (t > 0 && triple.add + triple.extra == 0) ||
            triple.add > header.oldSize - oldPos)
            return DeltaResult::Failure(DeltaFault::kControl);

        for (uint64_t left = triple.add; left > 0;) {
            const DWORD count = static_cast<DWORD>(std::min<uint64_t>(left, writer.Room()));
            BYTE *out = writer.Space();
            if (!(result = baseWindow.Read(oldPos, out, count)).Ok()) return result;
            if (!(result = diff.Read(buffers->diff, count)).Ok()) return result;
            for (DWORD i = 0; i < count; ++i) out[i] = static_cast<BYTE>(out[i] + buffers->diff[i]);
            if (!(result = writer.Commit(count)).Ok()) return result;
            oldPos += count;
            newPos += count;
            left -= count;
        }
        for (uint64_t left = triple.extra; left > 0;) {
            const DWORD count = static_cast<DWORD>(std::min<uint64_t>(left, writer.Room()));
            if (!(result = extra.Read(writer.Space(), count)).Ok()) return result;
            if (!(result = writer.Commit(count)).Ok()) return result;
            newPos += count;
            left -= count;
        }
        // The base position stays within [0, oldSize].
        if (triple.seek < -static_cast<int64_t>(oldPos) ||
            triple.seek > static_cast<int64_t>(header.oldSize - oldPos))
            return DeltaResult::Failure(DeltaFault::kControl);
        oldPos = static_cast<uint64_t>(static_cast<int64_t>(oldPos) + triple.seek);
    }
    if (newPos != header.newSize) return DeltaResult::Failure(DeltaFault::kControl);
    for (CInflateStream *stream : streams)
        if (!(result = stream->Finish()).Ok()) return result;
    return writer.Flush();
}

}  // namespace marvostell
