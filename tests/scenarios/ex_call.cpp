#include "ex_call.h"

#include "platform/shared_flag.h"

#include <chrono>
#include <cstdio>
#include <cstring>

namespace marvostell::testing {

uint32_t PathBufferSize(const ExOptions &ex, const std::string &dir, const std::string &sep) {
    long size = ex.pathSize;
    if (!ex.pathFits.empty()) size += static_cast<long>((dir + sep + ex.pathFits).size()) + 1;
    return size < 0 ? 0u : static_cast<uint32_t>(size);
}

std::string TestHostArguments(const ExOptions &ex, uint32_t pathSize) {
    std::string args = " --ex --path-size " + std::to_string(pathSize);
    if (ex.flags) args += " --flags " + std::to_string(ex.flags);
    if (ex.offerSize != sizeof(MarvostellOffer)) args += " --offer-size " + std::to_string(ex.offerSize);
    if (ex.deadlineSeconds) args += " --deadline " + std::to_string(ex.deadlineSeconds);
    if (ex.stallSeconds) args += " --stall " + std::to_string(ex.stallSeconds);
    if (ex.cancelAfterMs >= 0) args += " --cancel-after " + std::to_string(ex.cancelAfterMs);
    // Base64 and commas pass any command line as they are.
    if (ex.trustedKeys) args += " --trusted-keys '" + *ex.trustedKeys + "'";
    if (ex.userAgent) {
        // In hexadecimal: line breaks and quotes pass through no shell or
        // Windows command line intact.
        std::string hex;
        char pair[3];
        for (unsigned char c : *ex.userAgent) std::snprintf(pair, sizeof pair, "%02x", c), hex += pair;
        args += " --user-agent-hex '" + hex + "'";
    }
    return args;
}

Canceller::Canceller(int afterMs) {
    used_ = afterMs >= 0;
    if (afterMs == 0) flag_ = 1;
    if (afterMs <= 0) return;
    thread_ = std::thread([this, afterMs] {
        std::unique_lock<std::mutex> lock(mutex_);
        if (!ended_.wait_for(lock, std::chrono::milliseconds(afterMs), [this] { return over_; }))
            StoreSharedFlag(&flag_, 1);
    });
}

Canceller::~Canceller() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        over_ = true;
    }
    ended_.notify_all();
    if (thread_.joinable()) thread_.join();
}

}  // namespace marvostell::testing
