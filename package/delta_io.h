// What the patch applier and the packed-file inflater share: their result,
// the caller's stop check and output tap, a zlib stream read from one part
// of a file, and a buffered sequential writer.
#pragma once

#include <cstdint>

#include <zlib.h>

#include "platform/win32.h"

namespace marvostell {

enum class DeltaFault : uint8_t {
    kNone,
    kStopped,      // the stop check asked to stop
    kMemory,       // a buffer or zlib's state could not be allocated
    kBaseRead,     // reading the base failed; code: system error
    kBaseSize,     // the base is not the size the patch names, or ended early
    kInputRead,    // reading the patch or packed file failed; code: system error
    kOutputWrite,  // writing the result failed; code: system error
    kHeader,       // not a patch of this format and version
    kLengths,      // the header's sizes break a bound or do not add up
    kControl,      // a triple reaches past the result or the base
    kStream,       // a zlib stream is corrupt, or ends before or after its length
};

struct DeltaResult {
    DeltaFault fault = DeltaFault::kNone;
    uint32_t code = 0;

    bool Ok() const { return fault == DeltaFault::kNone; }
    static DeltaResult Failure(DeltaFault fault, uint32_t code = 0) { return {fault, code}; }
};

// A word for a fault, for tools and traces.
const char *DeltaFaultText(DeltaFault fault);

// The caller's hooks, each optional. `stop` is asked between pieces (at most
// kDeltaPiece bytes of output apart); true ends the work with kStopped.
// `written` sees every piece once it is written, in order (digests, progress).
struct DeltaControl {
    bool (*stop)(void *context) = nullptr;
    void (*written)(void *context, const BYTE *data, DWORD size) = nullptr;
    void *context = nullptr;
};

constexpr DWORD kDeltaPiece = 65536;

// The file's whole size; a failure is `readFault` with the system error.
DeltaResult FileSizeOf(HANDLE file, DeltaFault readFault, uint64_t &size);

// Reads at `position` of `file` exactly `size` bytes; fewer is `shortFault`.
DeltaResult ReadFileAt(HANDLE file, uint64_t position, BYTE *buffer, DWORD size, DeltaFault readFault,
                       DeltaFault shortFault);

// A zlib stream (RFC 1950) stored in [offset, offset + packedSize) of a file
// that others may read between calls: each refill seeks first.
class CInflateStream {
public:
    // `input` (of `inputSize` bytes) outlives the stream.
    CInflateStream(HANDLE file, BYTE *input, DWORD inputSize)
        : m_hFile(file), m_pInput(input), m_nInputSize(inputSize) {}
    ~CInflateStream();
    CInflateStream(const CInflateStream &) = delete;
    CInflateStream &operator=(const CInflateStream &) = delete;

    DeltaResult Open(uint64_t offset, uint64_t packedSize, uint64_t unpackedSize);
    // Exactly `size` bytes; a stream that ends first is kStream.
    DeltaResult Read(BYTE *out, DWORD size);
    // After the last Read: the stream must end here, at both of its lengths.
    DeltaResult Finish();
    uint64_t Remaining() const { return m_nUnpackedLeft; }

private:
    DeltaResult Inflate(BYTE *out, DWORD size, DWORD &produced, bool &ended);

    HANDLE m_hFile;
    BYTE *m_pInput;
    DWORD m_nInputSize;
    z_stream m_z{};
    bool m_bOpen = false;
    uint64_t m_nNext = 0;        // file position of the next refill
    uint64_t m_nPackedLeft = 0;  // bytes of the stream not read yet
    uint64_t m_nUnpackedLeft = 0;
};

// Appends to the output file through a kDeltaPiece buffer; each full buffer
// is written, shown to the control's tap, and followed by the stop check.
class CDeltaWriter {
public:
    CDeltaWriter(HANDLE file, BYTE *buffer, const DeltaControl &control)
        : m_hFile(file), m_pBuffer(buffer), m_control(control) {}

    // Where up to Room() bytes go next; Commit(n) counts n of them.
    BYTE *Space() { return m_pBuffer + m_nUsed; }
    DWORD Room() const { return kDeltaPiece - m_nUsed; }
    DeltaResult Commit(DWORD size);
    // Writes what is buffered and asks the stop check once more.
    DeltaResult Flush();

private:
    HANDLE m_hFile;
    BYTE *m_pBuffer;
    const DeltaControl &m_control;
    DWORD m_nUsed = 0;
};

}  // namespace marvostell
