// WSAStartup/WSACleanup on POSIX. Sockets need no start-up here; the calls
// keep Windows Sockets' version negotiation and start count, and a test seam
// (winsock_testing.h) can count them and script their answers.
#include <cstring>
#include <mutex>

#include "win32_posix.h"
#include "winsock_testing.h"

namespace {

constexpr int kWsaEfault = 10014;
constexpr int kWsaVerNotSupported = 10092;
constexpr int kWsaNotInitialised = 10093;
constexpr WORD kHighVersion = 0x0202;  // 2.2, low byte major

struct WsaState {
    std::mutex lock;
    int active = 0;
    int startupCalls = 0;
    int cleanupCalls = 0;
    int failError = 0;
    int failCount = 0;
    WORD reportedVersion = 0;
};

WsaState &State() {
    static WsaState state;
    return state;
}

// Versions are compared major first: the low byte is the major number.
unsigned VersionKey(WORD v) { return (static_cast<unsigned>(v & 0xFF) << 8) | (v >> 8); }

}  // namespace

int WSAStartup(WORD versionRequested, LPWSADATA data) {
    WsaState &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    ++s.startupCalls;
    if (s.failCount != 0) {
        if (s.failCount > 0) --s.failCount;
        return s.failError;
    }
    if ((versionRequested & 0xFF) == 0) return kWsaVerNotSupported;
    if (data == nullptr) return kWsaEfault;

    WORD version = VersionKey(versionRequested) > VersionKey(kHighVersion) ? kHighVersion
                                                                           : versionRequested;
    if (s.reportedVersion != 0) version = s.reportedVersion;
    std::memset(data, 0, sizeof *data);
    data->wVersion = version;
    data->wHighVersion = kHighVersion;
    std::strcpy(data->szDescription, "WinSock 2.0");
    std::strcpy(data->szSystemStatus, "Running");
    if ((version & 0xFF) < 2) {
        // Windows Sockets 1.x callers read these limits.
        data->iMaxSockets = 32767;
        data->iMaxUdpDg = 65467;
    }
    ++s.active;
    return 0;
}

int WSACleanup() {
    WsaState &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    ++s.cleanupCalls;
    if (s.active == 0) return kWsaNotInitialised;
    --s.active;
    return 0;
}

namespace marvostell::posix_testing {

int WsaStartupCalls() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().startupCalls;
}

int WsaCleanupCalls() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().cleanupCalls;
}

int WsaActiveStarts() {
    std::lock_guard<std::mutex> guard(State().lock);
    return State().active;
}

void FailWsaStartup(int error, int count) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().failError = error;
    State().failCount = count;
}

void ReportWsaVersion(WORD version) {
    std::lock_guard<std::mutex> guard(State().lock);
    State().reportedVersion = version;
}

void ResetWsa() {
    WsaState &s = State();
    std::lock_guard<std::mutex> guard(s.lock);
    s.active = 0;
    s.startupCalls = 0;
    s.cleanupCalls = 0;
    s.failError = 0;
    s.failCount = 0;
    s.reportedVersion = 0;
}

}  // namespace marvostell::posix_testing
