#include "tool_request.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/call_guard.h"

namespace marvostell::tools {
namespace {

#ifdef _WIN32
// WinINet keeps a cache of its own; RELOAD asks the server every time.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
#else
constexpr DWORD kRequestFlags = INTERNET_FLAG_NO_CACHE_WRITE;
#endif
const HttpRequestStyle kToolRequest = {nullptr, true, kRequestFlags, 0, nullptr};

// Raises the cancel flag that the call guard watches when nothing was heard
// for the limit. The request's own time-outs catch silence; this catches a
// trickle too, which keeps one read from ever filling.
class StallWatch {
public:
    explicit StallWatch(unsigned seconds)
        : m_limit(std::chrono::seconds(seconds)), m_heard(Clock::now()), m_thread([this] { Run(); }) {}
    ~StallWatch() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_one();
        m_thread.join();
    }
    void Heard() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_heard = Clock::now();
    }
    const volatile int32_t *Flag() const { return &m_flag; }
    bool Fired() const { return m_flag != 0; }

private:
    using Clock = std::chrono::steady_clock;
    void Run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_quit && m_flag == 0) {
            if (Clock::now() - m_heard >= m_limit) m_flag = 1;
            m_wake.wait_for(lock, std::chrono::milliseconds(100));
        }
    }

    const Clock::duration m_limit;
    Clock::time_point m_heard;
    volatile int32_t m_flag = 0;
    bool m_quit = false;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;  // last: starts once the rest is set
};

class BodySink : public CHttpSink {
public:
    BodySink(const BodyPiece &onData, StallWatch &watch) : m_onData(onData), m_watch(watch) {}
    bool OnAnswer(DWORD) override {
        m_watch.Heard();
        return true;
    }
    BodyVerdict OnBody(const BYTE *data, DWORD count) override {
        m_watch.Heard();
        return count == 0 || m_onData(data, count) ? kMore : kStop;
    }

private:
    const BodyPiece &m_onData;
    StallWatch &m_watch;
};

}  // namespace

HttpGetResult GetBody(const std::string &server, const std::string &object, int64_t rangeStart,
                      const BodyPiece &onData, unsigned stallSeconds) {
    char range[48];
    std::snprintf(range, sizeof range, "Range:bytes=%lld-", static_cast<long long>(rangeStart));
    std::vector<BYTE> buffer(kPieceBytes);
    HttpGetRequest request{server, object, &kToolRequest, rangeStart >= 0 ? range : nullptr};
    request.statusRequired = true;
    request.buffer = buffer.data();
    request.readSize = kPieceBytes;
    StallWatch watch(stallSeconds);
    CCallGuard guard(watch.Flag(), 0);
    HttpControl control;
    control.guard = &guard;
    control.stallMilliseconds = stallSeconds * 1000;
    request.control = &control;
    BodySink sink(onData, watch);
    HttpGetResult result = HttpGet(request, sink);
    if (watch.Fired() && result.failure == HttpGetResult::kStopped) result.stalled = true;
    return result;
}

}  // namespace marvostell::tools
