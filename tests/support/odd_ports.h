// Loopback listeners that misbehave below HTTP, for a check's URL.
#pragma once

#include <cstdint>
#include <thread>
#include <vector>

namespace marvostell::testing {

// A listening port whose accept queue is full and never drained: the kernel
// drops each further SYN, so a connect() to it waits until its caller gives
// up. Throws std::runtime_error when the queue cannot be filled.
class StuckPort {
public:
    StuckPort();
    ~StuckPort();
    StuckPort(const StuckPort &) = delete;
    StuckPort &operator=(const StuckPort &) = delete;
    uint16_t port() const { return port_; }

private:
    void Close();

    int listener_ = -1;
    uint16_t port_ = 0;
    std::vector<int> fillers_;
};

// A port that answers whatever arrives first on a connection with a plain
// "400 Bad Request" and closes it, as an HTTP server answers a TLS handshake.
class PlainAnswerPort {
public:
    PlainAnswerPort();
    ~PlainAnswerPort();
    PlainAnswerPort(const PlainAnswerPort &) = delete;
    PlainAnswerPort &operator=(const PlainAnswerPort &) = delete;
    uint16_t port() const { return port_; }

private:
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::thread thread_;
};

}  // namespace marvostell::testing
