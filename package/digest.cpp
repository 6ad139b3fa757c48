#include "package/digest.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/crypto.h"

namespace marvostell {
namespace {

// Pieces are small enough that a stop is seen within milliseconds.
// SHA-256's pieces: few hand-overs between the two threads.
constexpr DWORD kAlongsidePiece = 256 * 1024;

StepResult FileFailure(DWORD error) {
    return StepResult::Failure(Stage::kPackageFile, error ? error : ERROR_READ_FAULT);
}

// SHA-256 on a thread of its own. It owns the two pieces the file is read
// into and the thread, which finishes the piece it holds and is joined
// before the pieces go.
class CSha256Alongside {
public:
    CSha256Alongside()
        : m_pieces{std::vector<BYTE>(kAlongsidePiece), std::vector<BYTE>(kAlongsidePiece)},
          m_thread([this] { Run(); }) {}
    ~CSha256Alongside() {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_bQuit = true;
        }
        m_changed.notify_all();
        m_thread.join();
    }
    CSha256Alongside(const CSha256Alongside &) = delete;
    CSha256Alongside &operator=(const CSha256Alongside &) = delete;

    BYTE *Piece(int which) { return m_pieces[which].data(); }
    // Hands on a piece once the one before it is digested: the other piece
    // is then free to be read into.
    void Add(const BYTE *piece, DWORD size) {
        {
            std::unique_lock<std::mutex> lock(m_mutex);
            WaitIdle(lock);
            m_pPiece = piece;
            m_nPieceSize = size;
        }
        m_changed.notify_all();
    }
    bool Finish(uint8_t digest[crypto::kSha256Bytes]) {
        std::unique_lock<std::mutex> lock(m_mutex);
        WaitIdle(lock);
        return m_sha.Finish(digest);
    }

private:
    void WaitIdle(std::unique_lock<std::mutex> &lock) {
        m_changed.wait(lock, [this] { return m_pPiece == nullptr; });
    }
    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_changed.wait(lock, [this] { return m_pPiece != nullptr || m_bQuit; });
            if (!m_pPiece) return;
            lock.unlock();
            m_sha.Add(m_pPiece, m_nPieceSize);  // a failure shows in Finish
            lock.lock();
            m_pPiece = nullptr;
            m_changed.notify_all();
        }
    }

    std::vector<BYTE> m_pieces[2];
    crypto::CSha256 m_sha;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const BYTE *m_pPiece = nullptr;
    DWORD m_nPieceSize = 0;
    bool m_bQuit = false;
    std::thread m_thread;  // last: it starts once everything it uses exists
};

}  // namespace

std::string DigestHex(const uint8_t *bytes, size_t count) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(2 * count);
    for (size_t i = 0; i < count; ++i) {
        hex += kDigits[bytes[i] >> 4];
        hex += kDigits[bytes[i] & 0x0F];
    }
    return hex;
}

std::string CMd5Hex::Finish() {
    uint8_t digest[16];
    Md5Finish(m_context, digest);
    Md5Start(m_context);
    return DigestHex(digest, sizeof digest);
}

StepResult ReadFileDigests(HANDLE file, BYTE *buffer, DWORD bufferSize, bool withSha256,
                           CCallGuard *guard, FileDigests &digests) {
    const std::unique_ptr<CSha256Alongside> sha(withSha256 ? new CSha256Alongside : nullptr);
    const DWORD readSize = sha ? kAlongsidePiece : bufferSize;
    SetLastError(ERROR_SUCCESS);
    DWORD remaining = GetFileSize(file, nullptr);
    if (remaining == INVALID_FILE_SIZE && GetLastError() != ERROR_SUCCESS)
        return FileFailure(GetLastError());
    CMd5Hex md5;
    for (int which = 0; remaining != 0; which ^= 1) {
        const StopReason stop = guard ? guard->Check() : StopReason::kNone;
        if (stop != StopReason::kNone) return StoppedFailure(stop);
        BYTE *piece = sha ? sha->Piece(which) : buffer;
        DWORD count = 0;
        if (!ReadFile(file, piece, remaining < readSize ? remaining : readSize, &count, nullptr))
            return FileFailure(GetLastError());
        if (count == 0) return FileFailure(ERROR_HANDLE_EOF);
        if (sha) sha->Add(piece, count);
        md5.Add(piece, count);
        remaining -= count;
    }
    digests.md5 = md5.Finish();
    if (sha) {
        uint8_t sum[crypto::kSha256Bytes];
        if (!sha->Finish(sum)) return StepResult::Failure(Stage::kUnexpected, 0);
        digests.sha256 = DigestHex(sum, sizeof sum);
    }
    return StepResult::Success();
}

}  // namespace marvostell
