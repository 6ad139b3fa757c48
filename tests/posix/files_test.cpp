// The POSIX file calls: what the module relies on, checked against the Win32
// behaviour (error codes, dispositions, share modes, MoveFileA).
#include "injected_fault.h"
#include "platform/posix/win32_posix.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "file_fixture.h"

namespace fs = std::filesystem;

using marvostell::testing::InjectedFault;

namespace {

using PosixFiles = PosixFileTest;

namespace sys = marvostell::posix;

TEST_F(PosixFiles, OpenFailuresGiveWindowsCodes) {
    Write("file", "x");
    fs::create_directory(Path("sub"));
    struct Case {
        std::string name;
        DWORD disposition;
        DWORD error;
    } cases[] = {
        {"missing", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {"nodir/file", OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {"nodir/file", OPEN_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"nodir/deeper/file", OPEN_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"file/below", OPEN_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"sub", OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"sub", OPEN_ALWAYS, ERROR_ACCESS_DENIED},
        {std::string(300, 'n'), OPEN_ALWAYS, ERROR_FILENAME_EXCED_RANGE},
        {"file", 0, ERROR_INVALID_PARAMETER},
        {"file", 2 /* CREATE_ALWAYS */, ERROR_INVALID_PARAMETER},
    };
    for (const Case &c : cases) {
        SetLastError(0);
        HANDLE h = Open(c.name, GENERIC_WRITE, 0, c.disposition);
        EXPECT_EQ(h, INVALID_HANDLE_VALUE) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name << " disposition " << c.disposition;
        if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    }
    EXPECT_EQ(Read("file"), "x");
}

// Last error after success and what each disposition does to the content.
TEST_F(PosixFiles, DispositionsAndAlreadyExists) {
    struct Case {
        DWORD disposition;
        bool present;
        DWORD error;
        std::string content;
    } cases[] = {
        {OPEN_ALWAYS, true, ERROR_ALREADY_EXISTS, "old content"},
        {OPEN_ALWAYS, false, 0, ""},
        {OPEN_EXISTING, true, 0, "old content"},
    };
    for (const Case &c : cases) {
        std::error_code ec;
        fs::remove(Path("f"), ec);
        if (c.present) Write("f", "old content");
        SetLastError(12345);
        HANDLE h = Open("f", GENERIC_READ | GENERIC_WRITE, 0, c.disposition);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << c.disposition;
        EXPECT_EQ(GetLastError(), c.error) << c.disposition;
        CloseHandle(h);
        EXPECT_EQ(Read("f"), c.content) << c.disposition;
    }
}

// The manifest copy: open-always, write from the start, cut at that point.
TEST_F(PosixFiles, OpenAlwaysWriteThenSetEndOfFile) {
    Write("update.ini", "a much longer old manifest copy");
    HANDLE h = Open("update.ini", GENERIC_WRITE, 0, OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, "new", 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    EXPECT_TRUE(SetEndOfFile(h));
    EXPECT_EQ(GetFileSize(h, nullptr), 3u);
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_EQ(Read("update.ini"), "new");
}

TEST_F(PosixFiles, ShareModeZeroIsExclusive) {
    Write("f", "keep me");
    const DWORD shared = FILE_SHARE_READ | FILE_SHARE_WRITE;
    struct Case {
        DWORD firstShare, secondShare, secondDisposition;
        bool secondOpens;
    } cases[] = {
        {0, 0, OPEN_EXISTING, false},
        {0, shared, OPEN_EXISTING, false},
        {shared, 0, OPEN_EXISTING, false},
        {shared, shared, OPEN_EXISTING, true},
        {0, 0, OPEN_ALWAYS, false},
    };
    for (const Case &c : cases) {
        HANDLE first = Open("f", GENERIC_READ, c.firstShare, OPEN_EXISTING);
        ASSERT_NE(first, INVALID_HANDLE_VALUE);
        HANDLE second = Open("f", GENERIC_READ | GENERIC_WRITE, c.secondShare, c.secondDisposition);
        if (c.secondOpens) {
            EXPECT_NE(second, INVALID_HANDLE_VALUE);
            CloseHandle(second);
        } else {
            EXPECT_EQ(second, INVALID_HANDLE_VALUE) << c.firstShare << "/" << c.secondShare;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
        }
        EXPECT_EQ(Read("f"), "keep me");
        EXPECT_TRUE(CloseHandle(first));
    }
    // Closing releases the lock.
    HANDLE again = Open("f", GENERIC_READ, 0, OPEN_EXISTING);
    EXPECT_NE(again, INVALID_HANDLE_VALUE);
    CloseHandle(again);
}

TEST_F(PosixFiles, ReadStopsAtEndOfFileWithSuccess) {
    Write("f", "0123456789");
    HANDLE h = Open("f", GENERIC_READ, 0, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    char buf[32] = {};
    DWORD got = 99;
    EXPECT_TRUE(ReadFile(h, buf, 4, &got, nullptr));
    EXPECT_EQ(std::string(buf, got), "0123");
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &got, nullptr));
    EXPECT_EQ(std::string(buf, got), "456789");
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &got, nullptr));
    EXPECT_EQ(got, 0u);
    // Writing through a read-only handle is refused.
    EXPECT_FALSE(WriteFile(h, "x", 1, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_TRUE(CloseHandle(h));
    EXPECT_FALSE(ReadFile(INVALID_HANDLE_VALUE, buf, 1, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

TEST_F(PosixFiles, FilePointerFromTheStartOrTheEnd) {
    Write("f", "0123456789");
    HANDLE h = Open("f", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), 10u);
    EXPECT_EQ(SetFilePointer(h, 4, nullptr, FILE_BEGIN), 4u);
    EXPECT_TRUE(SetEndOfFile(h));
    EXPECT_EQ(GetFileSize(h, nullptr), 4u);
    EXPECT_EQ(SetFilePointer(h, -5, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    LONG high = 0;
    EXPECT_EQ(SetFilePointer(h, 0, &high, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, 1 /* FILE_CURRENT */), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    CloseHandle(h);
}

TEST_F(PosixFiles, MoveNeverReplaces) {
    Write("a", "source");
    Write("b", "target");
    EXPECT_FALSE(MoveFileA(Path("a").c_str(), Path("b").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
    EXPECT_EQ(Read("a"), "source");
    EXPECT_EQ(Read("b"), "target");

    EXPECT_FALSE(MoveFileA(Path("missing").c_str(), Path("c").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_FALSE(MoveFileA(Path("a").c_str(), Path("nodir/c").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));

    EXPECT_TRUE(MoveFileA(Path("a").c_str(), Path("a.err").c_str()));
    EXPECT_FALSE(fs::exists(Path("a")));
    EXPECT_EQ(Read("a.err"), "source");
}

TEST_F(PosixFiles, DeleteFile) {
    Write("f", "x");
    fs::create_directory(Path("sub"));
    EXPECT_TRUE(DeleteFileA(Path("f").c_str()));
    EXPECT_FALSE(fs::exists(Path("f")));
    struct Case {
        const char *name;
        DWORD error;
    } cases[] = {{"f", ERROR_FILE_NOT_FOUND},
                 {"nodir/f", ERROR_PATH_NOT_FOUND},
                 {"sub", ERROR_ACCESS_DENIED}};
    for (const Case &c : cases) {
        EXPECT_FALSE(DeleteFileA(Path(c.name).c_str())) << c.name;
        EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
}

// System calls that fail: the Win32 code each call reports, and a write
// that stops part-way says how much it wrote.
TEST_F(PosixFiles, FailingSystemCallsGiveWindowsCodes) {
    Write("old", "x");
    const std::string created = Path("new"), old = Path("old"), moved = Path("moved");
    {
        InjectedFault fault(sys::SystemCall::Open, 1, EACCES);
        EXPECT_EQ(CreateFileA(created.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_FALSE(fs::exists(created));
    }
    {
        InjectedFault fault(sys::SystemCall::Unlink, 1, EROFS);
        EXPECT_FALSE(DeleteFileA(old.c_str()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    }
    {
        InjectedFault fault(sys::SystemCall::Rename, 1, EACCES);
        EXPECT_FALSE(MoveFileA(old.c_str(), moved.c_str()));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
        EXPECT_EQ(Read("old"), "x");
    }
    HANDLE h = Open("full", GENERIC_WRITE, 0, OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    static char data[10000];
    {
        InjectedFault fault(sys::SystemCall::Write, 1, ENOSPC);
        DWORD written = 1;
        EXPECT_FALSE(WriteFile(h, data, sizeof data, &written, nullptr));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
        EXPECT_EQ(written, 0u);
    }
    {
        InjectedFault fault(sys::SystemCall::Ftruncate, 1, EIO);
        EXPECT_FALSE(SetEndOfFile(h));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_IO_DEVICE));
    }
    {
        InjectedFault fault(sys::SystemCall::Flock, 1, EWOULDBLOCK);
        EXPECT_EQ(Open("old", GENERIC_READ, 0, OPEN_EXISTING), INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    // The call after the failing one goes through again.
    DWORD written = 0;
    EXPECT_TRUE(WriteFile(h, data, sizeof data, &written, nullptr));
    EXPECT_EQ(written, sizeof data);
    EXPECT_TRUE(CloseHandle(h));
}

TEST_F(PosixFiles, FindFirstFileByExactName) {
    Write("pkg.exe", std::string(1234, 'p'));
    Write("ro.txt", "r");
    fs::permissions(Path("ro.txt"), fs::perms::owner_read | fs::perms::group_read);
    fs::create_directory(Path("sub"));
    struct Case {
        std::string name;
        DWORD attributes, size;
        const char *fileName;
    } cases[] = {
        {"pkg.exe", FILE_ATTRIBUTE_NORMAL, 1234, "pkg.exe"},
        {"ro.txt", FILE_ATTRIBUTE_READONLY, 1, "ro.txt"},
        {"sub", FILE_ATTRIBUTE_DIRECTORY, 0, "sub"},
        {"sub/", FILE_ATTRIBUTE_DIRECTORY, 0, "sub"},
    };
    for (const Case &c : cases) {
        WIN32_FIND_DATAA data;
        std::memset(&data, 0x55, sizeof data);
        HANDLE h = FindFirstFileA(Path(c.name).c_str(), &data);
        ASSERT_NE(h, INVALID_HANDLE_VALUE) << c.name;
        EXPECT_EQ(data.dwFileAttributes, c.attributes) << c.name;
        EXPECT_EQ(data.nFileSizeLow, c.size) << c.name;
        EXPECT_STREQ(data.cFileName, c.fileName);
        EXPECT_TRUE(FindClose(h));
    }
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA(Path("pkg.exe.").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA(Path("nodir/pkg.exe").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

// Every kind of handle comes from one registry: a live handle passed to the
// close call of another kind, or a handle already closed, is refused as
// invalid and stays usable by its own calls.
TEST_F(PosixFiles, HandlesOfAnotherKindOrClosedAreInvalid) {
    Write("f", "data");
    WIN32_FIND_DATAA data;
    HANDLE file = Open("f", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    HANDLE find = FindFirstFileA(Path("f").c_str(), &data);
    HINTERNET internet = InternetOpenA("t", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    ASSERT_NE(internet, nullptr);
    const struct {
        const char *call;
        BOOL (*close)(HANDLE);
        HANDLE own, wrong[2];
    } cases[] = {
        {"CloseHandle", CloseHandle, file, {find, internet}},
        {"FindClose", FindClose, find, {file, internet}},
        {"InternetCloseHandle", InternetCloseHandle, internet, {file, find}},
    };
    for (const auto &c : cases) {
        for (HANDLE wrong : c.wrong) {
            SetLastError(0);
            EXPECT_FALSE(c.close(wrong)) << c.call;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << c.call;
        }
    }
    char buffer[8];
    DWORD read = 0;
    EXPECT_FALSE(ReadFile(find, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 4u);

    for (const auto &c : cases) EXPECT_TRUE(c.close(c.own)) << c.call;
    for (const auto &c : cases) {
        SetLastError(0);
        EXPECT_FALSE(c.close(c.own)) << c.call << " twice";
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << c.call;
    }
    EXPECT_FALSE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
}

// A handle closed by one thread while another reads through it: each read
// gives the file it began on or fails with ERROR_INVALID_HANDLE, never the
// bytes of a file that took the descriptor's number meanwhile. (Under
// ThreadSanitizer a read that still used the freed handle is reported.)
TEST_F(PosixFiles, CloseWhileAnotherThreadReads) {
    const std::string mine(64, 'm');
    Write("mine", mine);
    Write("other", std::string(64, 'o'));
    for (int round = 0; round < 50; ++round) {
        HANDLE h = Open("mine", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        std::thread reader([&] {
            char buf[64];
            for (DWORD got = 0; ReadFile(h, buf, sizeof buf, &got, nullptr);) {
                EXPECT_EQ(std::string(buf, got), mine.substr(0, got));
                SetFilePointer(h, 0, nullptr, FILE_BEGIN);
            }
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        });
        std::this_thread::sleep_for(std::chrono::microseconds(200));
        EXPECT_TRUE(CloseHandle(h));
        HANDLE other = Open("other", GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        reader.join();
        CloseHandle(other);
    }
}

}  // namespace
