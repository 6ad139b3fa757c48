// A package's digest as the manifest writes it: MD5 in upper-case hexadecimal.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "package/md5.h"
#include "platform/crypto.h"

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

// SHA-256 on a thread of its own, beside the caller's work on the same bytes
// (MD5, say): on two cores a signed check then costs little more than an
// unsigned one.
class CSha256Alongside {
public:
    CSha256Alongside();
    ~CSha256Alongside();
    CSha256Alongside(const CSha256Alongside &) = delete;
    CSha256Alongside &operator=(const CSha256Alongside &) = delete;

    // Hands on a piece, once the piece before it is digested: the caller may
    // then reuse that earlier piece's memory, never this one's.
    void Add(const uint8_t *data, size_t size);
    // The digest in hexadecimal, or empty when SHA-256 could not be computed.
    std::string FinishHex();

private:
    void Run();
    void WaitIdle(std::unique_lock<std::mutex> &lock);

    crypto::CSha256 m_sha;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const uint8_t *m_pPiece = nullptr;
    size_t m_nPieceSize = 0;
    bool m_bQuit = false;
    std::thread m_thread;
};

}  // namespace marvostell
