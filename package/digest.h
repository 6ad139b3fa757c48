// A package's digests: MD5 as the manifest writes it (upper-case
// hexadecimal) and, for a signed manifest, SHA-256, both from one read of
// the file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/step_result.h"
#include "http/call_guard.h"
#include "package/md5.h"
#include "platform/win32.h"

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

struct FileDigests {
    std::string md5;
    std::string sha256;  // only when asked for
};

// Reads an open file once, from its start to its size, and feeds each piece
// to MD5 and, when `withSha256`, to SHA-256. Without SHA-256 the pieces are
// of `bufferSize` bytes through `buffer`. With it, SHA-256 runs on a thread
// of its own beside MD5, over large pieces that alternate between two
// buffers: on two cores a signed check then costs little more than an
// unsigned one (bench/run measured 1.15 to 1.32 times without the thread).
// The guard, when given, is asked before each piece, so a stop lands within
// a piece's time whatever the file's size. A failed read or a file that
// ends early is a package-file failure with the system's code, a SHA-256
// the platform cannot compute an unexpected one: a digest that cannot be
// computed is never reported as a digest.
StepResult ReadFileDigests(HANDLE file, BYTE *buffer, DWORD bufferSize, bool withSha256,
                           CCallGuard *guard, FileDigests &digests);

}  // namespace marvostell
