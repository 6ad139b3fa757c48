// The socket layer's start and the module entry, in a process of their own:
// both are process-wide and happen once.
#include <gtest/gtest.h>

#include "injected_fault.h"
#include "marvostell.h"
#include "platform/win32.h"

namespace sys = marvostell::posix;

namespace {

int Check() { return CheckNewVersion(nullptr, 0, 0, "no-slash", "/tmp", nullptr); }

// Stand-ins in the system-call table that count the calls and can make a
// successful start report another version.
int g_startups = 0, g_starts = 0, g_cleanups = 0;
WORD g_reportedVersion = 0;

int CountedStartup(WORD version, LPWSADATA data) {
    ++g_startups;
    const int result = sys::RealSystemCalls().wsaStartup(version, data);
    if (result == 0) {
        ++g_starts;
        if (g_reportedVersion != 0) data->wVersion = g_reportedVersion;
    }
    return result;
}

int CountedCleanup() {
    ++g_cleanups;
    return sys::RealSystemCalls().wsaCleanup();
}

struct CountedSocketCalls {
    CountedSocketCalls() {
        sys::SystemCalls table = sys::RealSystemCalls();
        table.wsaStartup = CountedStartup;
        table.wsaCleanup = CountedCleanup;
        sys::ReplaceSystemCalls(table);
    }
    ~CountedSocketCalls() { sys::RestoreSystemCalls(); }
};

}  // namespace

TEST(ModuleEntry, AddsTheErrorModeFlagsAtLoad) {
    // The entry routine ran while the process started.
    CountedSocketCalls counted;
    const UINT mode = SetErrorMode(0);
    SetErrorMode(mode);
    EXPECT_EQ(mode & 0x8001u, 0x8001u);
    EXPECT_EQ(g_startups, 0) << "loading makes no socket call";
}

TEST(SocketLayer, StartsOnceAndUndoesOnlyAWrongVersion) {
    CountedSocketCalls counted;
    marvostell::testing::FailSystemCall(sys::SystemCall::WsaStartup, 1, 10091);  // WSASYSNOTREADY
    EXPECT_EQ(Check(), MARVOSTELL_ERR_SOCKETS);
    EXPECT_EQ(g_starts, 0);
    EXPECT_EQ(g_cleanups, 0) << "a failed start is not cleaned up";

    g_reportedVersion = 0x0202;
    EXPECT_EQ(Check(), MARVOSTELL_ERR_SOCKETS);
    EXPECT_EQ(g_startups, 1) << "the failed call never reached the stand-in";
    EXPECT_EQ(g_cleanups, 1);

    g_reportedVersion = 0x0101;
    EXPECT_EQ(Check(), MARVOSTELL_ERR_BAD_URL);
    EXPECT_EQ(Check(), MARVOSTELL_ERR_BAD_URL);
    EXPECT_EQ(g_startups, 2) << "later calls skip the start";
    EXPECT_EQ(g_cleanups, 1);
    EXPECT_EQ(g_starts - g_cleanups, 1) << "the successful start stays in force";
}
