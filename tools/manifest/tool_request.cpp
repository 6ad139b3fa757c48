#include "tool_request.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "http/call_guard.h"
#include "platform/shared_flag.h"

namespace marvostell::tools {
namespace {

#ifdef _WIN32
// WinINet keeps a cache of its own; RELOAD asks the server every time.
constexpr DWORD kRequestFlags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
#else
constexpr DWORD kRequestFlags = INTERNET_FLAG_NO_CACHE_WRITE;
#endif
const HttpRequestStyle kToolRequest = {nullptr, true, kRequestFlags, 0, nullptr};

using Clock = std::chrono::steady_clock;
// How long a stopped request may take to end before it is left behind.
constexpr std::chrono::seconds kStopGrace{2};

// What the caller and the thread that runs the GET share. The GET may
// outlive the call: Wine's WinINet does not end a read when another thread
// closes its handle, so a stalled GET is left to run, cut off from the
// caller's sink.
struct Transfer {
    std::mutex mutex;
    std::condition_variable changed;
    BodyPiece onData;            // the caller's; never called once abandoned
    bool abandoned = false;
    bool done = false;
    HttpGetResult result;
    DWORD status = 0;            // from the answer, for an abandoned GET
    Clock::time_point heard = Clock::now();
    uint64_t bytes = 0;          // since `heard`
    volatile int32_t stop = 0;   // watched by the call guard
};

// Progress is kPieceBytes received, or the answer; a trickle makes none.
class BodySink : public CHttpSink {
public:
    explicit BodySink(std::shared_ptr<Transfer> transfer) : m_transfer(std::move(transfer)) {}
    bool OnAnswer(DWORD status) override {
        std::lock_guard<std::mutex> lock(m_transfer->mutex);
        m_transfer->status = status;
        m_transfer->heard = Clock::now();
        return !m_transfer->abandoned;
    }
    BodyVerdict OnBody(const BYTE *data, DWORD count) override {
        std::lock_guard<std::mutex> lock(m_transfer->mutex);
        Transfer &t = *m_transfer;
        if (t.abandoned) return kStop;
        t.bytes += count;
        if (t.bytes >= kPieceBytes) {
            t.heard = Clock::now();
            t.bytes = 0;
        }
        return count == 0 || t.onData(data, count) ? kMore : kStop;
    }

private:
    std::shared_ptr<Transfer> m_transfer;
};

void Run(const std::shared_ptr<Transfer> &transfer, const std::string &server, const std::string &object,
         const std::string &range, unsigned stallSeconds) {
    std::vector<BYTE> buffer(kPieceBytes);
    HttpGetRequest request{server, object, &kToolRequest, range.empty() ? nullptr : range.c_str()};
    request.statusRequired = true;
    request.buffer = buffer.data();
    request.readSize = kPieceBytes;
    CCallGuard guard(&transfer->stop, 0);
    HttpControl control;
    control.guard = &guard;
    control.stallMilliseconds = stallSeconds * 1000;
    request.control = &control;
    BodySink sink(transfer);
    const HttpGetResult result = HttpGet(request, sink);
    std::lock_guard<std::mutex> lock(transfer->mutex);
    transfer->result = result;
    transfer->done = true;
    transfer->changed.notify_all();
}

}  // namespace

HttpGetResult GetBody(const std::string &server, const std::string &object, int64_t rangeStart,
                      const BodyPiece &onData, unsigned stallSeconds) {
    const std::string range = rangeStart >= 0 ? "Range:bytes=" + std::to_string(rangeStart) + "-" : "";
    auto transfer = std::make_shared<Transfer>();
    transfer->onData = onData;
    std::thread worker(Run, transfer, server, object, range, stallSeconds);
    std::unique_lock<std::mutex> lock(transfer->mutex);
    const auto limit = std::chrono::seconds(stallSeconds);
    while (!transfer->done && Clock::now() - transfer->heard < limit)
        transfer->changed.wait_for(lock, std::chrono::milliseconds(100));
    if (transfer->done) {
        lock.unlock();
        worker.join();
        return transfer->result;
    }
    StoreSharedFlag(&transfer->stop, 1);  // the guard closes the request
    transfer->changed.wait_for(lock, kStopGrace, [&] { return transfer->done; });
    HttpGetResult result = transfer->result;
    if (!transfer->done) {
        transfer->abandoned = true;
        result.failure = HttpGetResult::kStopped;
        result.status = transfer->status;
    }
    const bool done = transfer->done;
    lock.unlock();
    if (done)
        worker.join();
    else
        worker.detach();
    if (result.failure == HttpGetResult::kStopped) result.stalled = true;
    return result;
}

}  // namespace marvostell::tools
