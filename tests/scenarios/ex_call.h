// The pieces of a CheckNewVersionEx call that the native runner and the Wine
// test host's command line share: the path buffer's size and the cancel flag
// set by a second thread (the offer is offer_area.h's).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "marvostell.h"
#include "scenario_runner.h"

namespace marvostell::testing {

// Bytes checked after the path buffer: the call must leave them alone.
constexpr size_t kPathGuardBytes = 64;

// The path buffer's size for the directory passed as dir (separator sep).
uint32_t PathBufferSize(const ExOptions &ex, const std::string &dir, const std::string &sep);

// The test host's options for ex with a path buffer of pathSize bytes.
std::string TestHostArguments(const ExOptions &ex, uint32_t pathSize);

// The cancel flag of one call: unset, set already, or set by a thread after
// a delay unless the call has ended first.
class Canceller {
public:
    explicit Canceller(int afterMs);
    ~Canceller();
    Canceller(const Canceller &) = delete;
    Canceller &operator=(const Canceller &) = delete;

    volatile int32_t *flag() { return used_ ? &flag_ : nullptr; }

private:
    volatile int32_t flag_ = 0;
    bool used_ = false;
    std::mutex mutex_;
    std::condition_variable ended_;
    bool over_ = false;
    std::thread thread_;
};

}  // namespace marvostell::testing
