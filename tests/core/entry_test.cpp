// The socket layer's start and the module entry, in a process of their own:
// both are process-wide and happen once.
#include <gtest/gtest.h>

#include "marvostell.h"
#include "platform/posix/winsock_testing.h"
#include "platform/win32.h"

namespace wsa = marvostell::posix_testing;

namespace {
int Check() { return CheckNewVersion(nullptr, 0, 0, "no-slash", "/tmp", nullptr); }
}

TEST(ModuleEntry, AddsTheErrorModeFlagsAtLoad) {
    // The entry routine ran while the process started.
    const UINT mode = SetErrorMode(0);
    SetErrorMode(mode);
    EXPECT_EQ(mode & 0x8001u, 0x8001u);
    EXPECT_EQ(wsa::WsaStartupCalls(), 0) << "loading makes no socket call";
}

TEST(SocketLayer, StartsOnceAndUndoesOnlyAWrongVersion) {
    wsa::FailWsaStartup(10091);
    EXPECT_EQ(Check(), MARVOSTELL_ERR_SOCKETS);
    EXPECT_EQ(wsa::WsaStartupCalls(), 1);
    EXPECT_EQ(wsa::WsaCleanupCalls(), 0) << "a failed start is not cleaned up";

    wsa::ReportWsaVersion(0x0202);
    EXPECT_EQ(Check(), MARVOSTELL_ERR_SOCKETS);
    EXPECT_EQ(wsa::WsaStartupCalls(), 2);
    EXPECT_EQ(wsa::WsaCleanupCalls(), 1);

    wsa::ReportWsaVersion(0x0101);
    EXPECT_EQ(Check(), MARVOSTELL_ERR_BAD_URL);
    EXPECT_EQ(Check(), MARVOSTELL_ERR_BAD_URL);
    EXPECT_EQ(wsa::WsaStartupCalls(), 3) << "later calls skip the start";
    EXPECT_EQ(wsa::WsaCleanupCalls(), 1);
    EXPECT_EQ(wsa::WsaActiveStarts(), 1) << "the successful start stays in force";
}
