#include "package/packed_inflate.h"

#include <algorithm>
#include <memory>
#include <new>

#include "package/patch_format.h"

namespace marvostell {
namespace {

struct InflateBuffers {
    BYTE output[kDeltaPiece];
    BYTE input[kDeltaPiece];
};

}  // namespace

DeltaResult InflatePacked(HANDLE packed, HANDLE output, uint64_t expectedSize, const DeltaControl &control) {
    uint64_t packedSize = 0;
    DeltaResult result = FileSizeOf(packed, DeltaFault::kInputRead, packedSize);
    if (!result.Ok()) return result;
    if (packedSize >= kMaxPatchFileSize || expectedSize > kMaxPatchFileSize)
        return DeltaResult::Failure(DeltaFault::kLengths);

    const std::unique_ptr<InflateBuffers> buffers(new (std::nothrow) InflateBuffers);
    if (!buffers) return DeltaResult::Failure(DeltaFault::kMemory);
    CInflateStream stream(packed, buffers->input, kDeltaPiece);
    result = stream.Open(0, packedSize, expectedSize);
    if (!result.Ok()) return result;
    CDeltaWriter writer(output, buffers->output, control);
    while (stream.Remaining() > 0) {
        const DWORD count = static_cast<DWORD>(std::min<uint64_t>(stream.Remaining(), writer.Room()));
        if (!(result = stream.Read(writer.Space(), count)).Ok()) return result;
        if (!(result = writer.Commit(count)).Ok()) return result;
    }
    if (!(result = stream.Finish()).Ok()) return result;
    return writer.Flush();
}

}  // namespace marvostell
