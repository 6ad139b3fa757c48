#include "http/call_guard.h"

#include "platform/shared_flag.h"

namespace marvostell {
namespace {
// How often the flag is read: well within the second a host may wait.
constexpr std::chrono::milliseconds kPollInterval{50};
}

CCallGuard::CCallGuard(const volatile int32_t *cancel, uint32_t deadlineSeconds)
    : m_pCancel(cancel),
      m_bHasDeadline(deadlineSeconds != 0),
      m_deadline(std::chrono::steady_clock::now() + std::chrono::seconds(deadlineSeconds)) {
    if (m_pCancel || m_bHasDeadline) m_thread = std::thread([this] { Run(); });
}

CCallGuard::~CCallGuard() {
    if (!m_thread.joinable()) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bQuit = true;
    }
    m_wake.notify_one();
    m_thread.join();
}

StopReason CCallGuard::Check() {
    StopReason reason = m_reason.load();
    if (reason != StopReason::kNone) return reason;
    if (m_pCancel && LoadSharedFlag(m_pCancel) != 0)
        reason = StopReason::kCancelled;
    else if (m_bHasDeadline && std::chrono::steady_clock::now() >= m_deadline)
        reason = StopReason::kTimedOut;
    if (reason == StopReason::kNone) return reason;
    // Another thread may have found the other reason meanwhile: its stays.
    StopReason unset = StopReason::kNone;
    return m_reason.compare_exchange_strong(unset, reason) ? reason : unset;
}

uint64_t CCallGuard::MillisecondsLeft(uint64_t otherwise) const {
    if (!m_bHasDeadline) return otherwise;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        m_deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<uint64_t>(left.count()) : 0;
}

void CCallGuard::Watch(HINTERNET request) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hWatched = request;
    m_bClosedWatched = false;
    // A stop that came before the request opened ends it at once.
    if (m_reason.load() != StopReason::kNone && m_hWatched) {
        InternetCloseHandle(m_hWatched);
        m_bClosedWatched = true;
    }
}

bool CCallGuard::Unwatch() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_hWatched = nullptr;
    return m_bClosedWatched;
}

void CCallGuard::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_bQuit) {
        if (Check() != StopReason::kNone && m_hWatched && !m_bClosedWatched) {
            InternetCloseHandle(m_hWatched);
            m_bClosedWatched = true;
        }
        m_wake.wait_for(lock, kPollInterval);
    }
}

}  // namespace marvostell
