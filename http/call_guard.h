// Stops a call when its host sets the cancel flag or its deadline passes:
// a thread of its own watches both and ends the blocking Internet call in
// progress by closing its request handle, the way WinINet lets another
// thread end a blocking call.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "framework/step_result.h"
#include "platform/win32.h"

namespace marvostell {

enum class StopReason { kNone, kCancelled, kTimedOut };

// The failure of a stopped call: ERROR_CANCELLED or ERROR_TIMEOUT.
inline StepResult StoppedFailure(StopReason reason) {
    return StepResult::Failure(Stage::kStopped,
                               reason == StopReason::kCancelled ? ERROR_CANCELLED : ERROR_TIMEOUT);
}

class CCallGuard {
public:
    // No thread is started when there is neither a flag nor a deadline.
    CCallGuard(const volatile int32_t *cancel, uint32_t deadlineSeconds);
    ~CCallGuard();
    CCallGuard(const CCallGuard &) = delete;
    CCallGuard &operator=(const CCallGuard &) = delete;

    // Why the call must stop, if it must; once set, it stays: the first
    // reason found wins, whichever thread found it.
    StopReason Check();

    // The milliseconds left until the deadline (0 once it has passed), or
    // `otherwise` when there is none.
    uint64_t MillisecondsLeft(uint64_t otherwise) const;

    // While a request is open the guard may close it. Unwatch returns whether
    // it did: the handle is then no longer the caller's to close.
    void Watch(HINTERNET request);
    bool Unwatch();

private:
    void Run();

    const volatile int32_t *m_pCancel;
    const bool m_bHasDeadline;
    const std::chrono::steady_clock::time_point m_deadline;
    std::atomic<StopReason> m_reason{StopReason::kNone};
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_bQuit = false;
    HINTERNET m_hWatched = nullptr;
    bool m_bClosedWatched = false;
    std::thread m_thread;
};

}  // namespace marvostell
