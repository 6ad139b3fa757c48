#include "package/delta_io.h"

#include <algorithm>

namespace marvostell {

const char *DeltaFaultText(DeltaFault fault) {
    switch (fault) {
    case DeltaFault::kNone: return "done";
    case DeltaFault::kStopped: return "stopped";
    case DeltaFault::kMemory: return "out of memory";
    case DeltaFault::kBaseRead: return "cannot read the base";
    case DeltaFault::kBaseSize: return "the base is not the file the patch was made from (size)";
    case DeltaFault::kInputRead: return "cannot read the patch or packed file";
    case DeltaFault::kOutputWrite: return "cannot write the result";
    case DeltaFault::kHeader: return "not a patch of this format and version";
    case DeltaFault::kLengths: return "the patch's lengths are out of bounds or do not add up";
    case DeltaFault::kControl: return "a control triple reaches past the result or the base";
    case DeltaFault::kStream: return "a compressed stream is corrupt or of the wrong length";
    }
    return "unknown fault";
}

DeltaResult FileSizeOf(HANDLE file, DeltaFault readFault, uint64_t &size) {
    DWORD high = 0;
    SetLastError(ERROR_SUCCESS);
    const DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS)
        return DeltaResult::Failure(readFault, GetLastError());
    size = static_cast<uint64_t>(high) << 32 | low;
    return {};
}

DeltaResult ReadFileAt(HANDLE file, uint64_t position, BYTE *buffer, DWORD size, DeltaFault readFault,
                       DeltaFault shortFault) {
    // Callers keep every position below kMaxPatchFileSize (2 GiB), so the
    // low part alone, read as a signed distance, reaches it.
    if (SetFilePointer(file, static_cast<LONG>(position), nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return DeltaResult::Failure(readFault, GetLastError());
    DWORD got = 0;
    if (!ReadFile(file, buffer, size, &got, nullptr)) return DeltaResult::Failure(readFault, GetLastError());
    if (got != size) return DeltaResult::Failure(shortFault);
    return {};
}

CInflateStream::~CInflateStream() {
    if (m_bOpen) inflateEnd(&m_z);
}

DeltaResult CInflateStream::Open(uint64_t offset, uint64_t packedSize, uint64_t unpackedSize) {
    m_z = z_stream{};
    // 15: the largest window, which the zlib header may ask for.
    const int status = inflateInit2(&m_z, 15);
    if (status != Z_OK) return DeltaResult::Failure(status == Z_MEM_ERROR ? DeltaFault::kMemory : DeltaFault::kStream);
    m_bOpen = true;
    m_nNext = offset;
    m_nPackedLeft = packedSize;
    m_nUnpackedLeft = unpackedSize;
    return {};
}

DeltaResult CInflateStream::Inflate(BYTE *out, DWORD size, DWORD &produced, bool &ended) {
    produced = 0;
    ended = false;
    m_z.next_out = out;
    m_z.avail_out = size;
    while (m_z.avail_out > 0 && !ended) {
        if (m_z.avail_in == 0 && m_nPackedLeft > 0) {
            const DWORD piece = static_cast<DWORD>(std::min<uint64_t>(m_nPackedLeft, m_nInputSize));
            const DeltaResult read =
                ReadFileAt(m_hFile, m_nNext, m_pInput, piece, DeltaFault::kInputRead, DeltaFault::kStream);
            if (!read.Ok()) return read;
            m_nNext += piece;
            m_nPackedLeft -= piece;
            m_z.next_in = m_pInput;
            m_z.avail_in = piece;
        }
        const uInt before = m_z.avail_out;
        const int status = inflate(&m_z, Z_NO_FLUSH);
        produced += before - m_z.avail_out;
        if (status == Z_STREAM_END) {
            ended = true;
        } else if (status == Z_MEM_ERROR) {
            return DeltaResult::Failure(DeltaFault::kMemory);
        } else if (status != Z_OK && !(status == Z_BUF_ERROR && m_nPackedLeft > 0)) {
            // A data or dictionary error, or input used up before the end.
            return DeltaResult::Failure(DeltaFault::kStream);
        }
    }
    return {};
}

DeltaResult CInflateStream::Read(BYTE *out, DWORD size) {
    if (size > m_nUnpackedLeft) return DeltaResult::Failure(DeltaFault::kStream);
    DWORD produced = 0;
    bool ended = false;
    const DeltaResult result = Inflate(out, size, produced, ended);
    if (!result.Ok()) return result;
    if (produced != size) return DeltaResult::Failure(DeltaFault::kStream);
    m_nUnpackedLeft -= size;
    return {};
}

DeltaResult CInflateStream::Finish() {
    if (m_nUnpackedLeft != 0) return DeltaResult::Failure(DeltaFault::kStream);
    // All bytes are out; what is left is the end of the last block and the
    // check value, which must come next and close the stream at its length.
    BYTE spare;
    DWORD produced = 0;
    bool ended = false;
    const DeltaResult result = Inflate(&spare, 1, produced, ended);
    if (!result.Ok()) return result;
    if (produced != 0 || !ended || m_z.avail_in != 0 || m_nPackedLeft != 0)
        return DeltaResult::Failure(DeltaFault::kStream);
    return {};
}

DeltaResult CDeltaWriter::Commit(DWORD size) {
    m_nUsed += size;
    return m_nUsed == kDeltaPiece ? Flush() : DeltaResult{};
}

DeltaResult CDeltaWriter::Flush() {
    if (m_nUsed > 0) {
        DWORD written = 0;
        if (!WriteFile(m_hFile, m_pBuffer, m_nUsed, &written, nullptr) || written != m_nUsed)
            return DeltaResult::Failure(DeltaFault::kOutputWrite, GetLastError());
        if (m_control.written) m_control.written(m_control.context, m_pBuffer, m_nUsed);
        m_nUsed = 0;
    }
    if (m_control.stop && m_control.stop(m_control.context)) return DeltaResult::Failure(DeltaFault::kStopped);
    return {};
}

}  // namespace marvostell
