// Last error, error mode, PostMessageA and the socket start-up.
#include "injected_fault.h"
#include "platform/posix/win32_posix.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace {

namespace sys = marvostell::posix;
using marvostell::testing::InjectedFault;

TEST(PosixErrors, LastErrorIsPerThread) {
    SetLastError(183);
    DWORD seen = 1;
    std::thread([&] {
        seen = GetLastError();
        SetLastError(32);
    }).join();
    EXPECT_EQ(seen, 0u);
    EXPECT_EQ(GetLastError(), 183u);
}

TEST(PosixErrors, ErrorModeReturnsPrevious) {
    UINT original = SetErrorMode(SEM_FAILCRITICALERRORS);
    EXPECT_EQ(SetErrorMode(SEM_NOOPENFILEERRORBOX), SEM_FAILCRITICALERRORS);
    EXPECT_EQ(SetErrorMode(original), SEM_NOOPENFILEERRORBOX);
}

TEST(PosixErrors, NoByteLeadsADoubleByteCharacter) {
    for (int c = 0; c < 256; ++c) EXPECT_FALSE(IsDBCSLeadByte(static_cast<BYTE>(c))) << c;
}

struct Posted {
    void *context;
    uint32_t message;
    uintptr_t wparam;
    intptr_t lparam;
};

void Record(void *context, uint32_t message, uintptr_t wparam, intptr_t lparam) {
    static_cast<std::vector<Posted> *>(context)->push_back({context, message, wparam, lparam});
}

TEST(PosixMessages, PostReachesTheTargetWithItsArguments) {
    std::vector<Posted> posted;
    MarvostellNotifyTarget target = {Record, &posted};
    EXPECT_TRUE(PostMessageA(&target, 0x8123, 57, 0));
    EXPECT_TRUE(PostMessageA(&target, 0xC000, static_cast<WPARAM>(-1), -7));
    ASSERT_EQ(posted.size(), 2u);
    EXPECT_EQ(posted[0].context, &posted);
    EXPECT_EQ(posted[0].message, 0x8123u);
    EXPECT_EQ(posted[0].wparam, 57u);
    EXPECT_EQ(posted[0].lparam, 0);
    EXPECT_EQ(posted[1].message, 0xC000u);
    EXPECT_EQ(posted[1].wparam, static_cast<uintptr_t>(-1));
    EXPECT_EQ(posted[1].lparam, -7);
}

TEST(PosixMessages, NoTargetIsAnInvalidWindow) {
    MarvostellNotifyTarget noPost = {nullptr, nullptr};
    for (HWND window : {static_cast<HWND>(nullptr), &noPost}) {
        SetLastError(0);
        EXPECT_FALSE(PostMessageA(window, 0x8000, 1, 0));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_WINDOW_HANDLE));
    }
}

class PosixWinsock : public ::testing::Test {
protected:
    // Each test leaves the socket layer as it found it: not started.
    void TearDown() override {
        while (WSACleanup() == 0) {
        }
    }
};

TEST_F(PosixWinsock, CountsStartsUntilCleanedUp) {
    WSADATA data;
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(data.wVersion, 0x0101);
    EXPECT_EQ(data.wHighVersion, 0x0202);
    ASSERT_EQ(WSAStartup(0x0101, &data), 0);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), 10093);  // WSANOTINITIALISED
}

TEST_F(PosixWinsock, VersionNegotiation) {
    WSADATA data;
    const struct {
        WORD requested;
        int result;
        WORD version;
    } cases[] = {{0x0202, 0, 0x0202}, {0x0303, 0, 0x0202}, {0x0102, 0, 0x0102},
                 {0x0000, 10092, 0}};
    for (const auto &c : cases) {
        data.wVersion = 0;
        EXPECT_EQ(WSAStartup(c.requested, &data), c.result) << c.requested;
        if (c.result == 0) {
            EXPECT_EQ(data.wVersion, c.version) << c.requested;
        }
    }
}

// A start that fails counts no start, however many fail.
TEST_F(PosixWinsock, FailsThroughTheSystemCallTable) {
    WSADATA data;
    {
        InjectedFault fault(sys::SystemCall::WsaStartup, 2, 10091,  // WSASYSNOTREADY
                            marvostell::testing::FaultMode::FromThenOn);
        EXPECT_EQ(WSAStartup(0x0101, &data), 0);
        EXPECT_EQ(WSAStartup(0x0101, &data), 10091);
        EXPECT_EQ(WSAStartup(0x0101, &data), 10091);
    }
    EXPECT_EQ(WSACleanup(), 0);
    EXPECT_EQ(WSACleanup(), 10093);
    EXPECT_EQ(WSAStartup(0x0101, &data), 0) << "the real call is back";
}

}  // namespace
