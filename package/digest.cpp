#include "package/digest.h"

namespace marvostell {

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

CSha256Alongside::CSha256Alongside() : m_thread([this] { Run(); }) {}

CSha256Alongside::~CSha256Alongside() {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        WaitIdle(lock);
        m_bQuit = true;
    }
    m_changed.notify_all();
    m_thread.join();
}

void CSha256Alongside::WaitIdle(std::unique_lock<std::mutex> &lock) {
    m_changed.wait(lock, [this] { return m_pPiece == nullptr; });
}

void CSha256Alongside::Add(const uint8_t *data, size_t size) {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        WaitIdle(lock);
        m_pPiece = data;
        m_nPieceSize = size;
    }
    m_changed.notify_all();
}

std::string CSha256Alongside::FinishHex() {
    std::unique_lock<std::mutex> lock(m_mutex);
    WaitIdle(lock);
    uint8_t digest[crypto::kSha256Bytes];
    return m_sha.Finish(digest) ? DigestHex(digest, sizeof digest) : std::string();
}

void CSha256Alongside::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_pPiece != nullptr || m_bQuit; });
        if (!m_pPiece) return;
        const uint8_t *piece = m_pPiece;
        const size_t size = m_nPieceSize;
        lock.unlock();
        m_sha.Add(piece, size);
        lock.lock();
        m_pPiece = nullptr;
        m_changed.notify_all();
    }
}

}  // namespace marvostell
