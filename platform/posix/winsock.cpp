// WSAStartup/WSACleanup on POSIX. Sockets need no start-up here; the calls
// keep Windows Sockets' version negotiation and start count. Both go through
// the system-call table (system_calls.h), so a test can fail them or put a
// stand-in of its own in front of them.
#include <mutex>

#include "system_calls.h"
#include "win32_posix.h"

namespace {

constexpr int kWsaEfault = 10014;
constexpr int kWsaVerNotSupported = 10092;
constexpr int kWsaNotInitialised = 10093;
constexpr WORD kHighVersion = 0x0202;  // 2.2, low byte major

std::mutex g_mutex;
int g_activeStarts = 0;

// Versions are compared major first: the low byte is the major number.
unsigned VersionKey(WORD v) { return (static_cast<unsigned>(v & 0xFF) << 8) | (v >> 8); }

}  // namespace

namespace marvostell::posix {

int StartSocketLayer(WORD versionRequested, LPWSADATA data) {
    if ((versionRequested & 0xFF) == 0) return kWsaVerNotSupported;
    if (data == nullptr) return kWsaEfault;
    *data = WSADATA{};
    data->wVersion = VersionKey(versionRequested) > VersionKey(kHighVersion) ? kHighVersion
                                                                             : versionRequested;
    data->wHighVersion = kHighVersion;
    std::lock_guard<std::mutex> guard(g_mutex);
    ++g_activeStarts;
    return 0;
}

int CleanUpSocketLayer() {
    std::lock_guard<std::mutex> guard(g_mutex);
    if (g_activeStarts == 0) return kWsaNotInitialised;
    --g_activeStarts;
    return 0;
}

}  // namespace marvostell::posix

int WSAStartup(WORD versionRequested, LPWSADATA data) {
    return marvostell::posix::Sys().wsaStartup(versionRequested, data);
}

int WSACleanup() { return marvostell::posix::Sys().wsaCleanup(); }
