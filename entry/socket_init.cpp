#include "entry/socket_init.h"

#include <atomic>

#include "platform/win32.h"

namespace marvostell {
namespace {
// Set once a start has succeeded; never cleared while the process runs.
std::atomic<bool> g_socketsStarted{false};
}

int AfxSocketInit() {
    if (!g_socketsStarted.load()) {
        WSADATA data;
        if (WSAStartup(0x0101, &data) != 0) return 0;
        if (LOBYTE(data.wVersion) != 1 || HIBYTE(data.wVersion) != 1) {
            WSACleanup();
            return 0;
        }
        g_socketsStarted.store(true);
    }
    return 1;
}

}  // namespace marvostell
