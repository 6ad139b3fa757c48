// The POSIX file calls: what the module relies on, checked against the Win32
// behaviour (error codes, dispositions, share modes, MoveFileA).
#include "platform/posix/win32_posix.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include <sys/stat.h>
#include <unistd.h>

#include "child.h"
#include "temp_dir.h"

namespace fs = std::filesystem;

namespace {

class PosixFiles : public ::testing::Test {
protected:
    std::string Path(const std::string &name) const { return dir_ + "/" + name; }
    void Write(const std::string &name, const std::string &content) const {
        std::ofstream(Path(name), std::ios::binary) << content;
    }
    std::string Read(const std::string &name) const {
        std::ifstream in(Path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    HANDLE Open(const std::string &name, DWORD access, DWORD share, DWORD disposition) const {
        return CreateFileA(Path(name).c_str(), access, share, nullptr, disposition, 0, nullptr);
    }

    marvostell::testing::TempDir temp_{"files"};
    const std::string dir_ = temp_.path();
};

// Runs fn in a forked child and returns the DWORD it reports (or a value above
// 0xFFFF if the child died).
DWORD InChild(const std::function<DWORD()> &fn) {
    const auto report = marvostell::testing::InChild([&] { return std::to_string(fn()); });
    return report.exited ? static_cast<DWORD>(std::stoul(report.text)) : 0x30000;
}

TEST_F(PosixFiles, OpenFailuresGiveWindowsCodes) {
    Write("file", "x");
    fs::create_directory(Path("sub"));
    struct Case {
        std::string name;
        DWORD disposition;
        DWORD error;
    } cases[] = {
        {"missing", OPEN_EXISTING, ERROR_FILE_NOT_FOUND},
        {"missing", TRUNCATE_EXISTING, ERROR_FILE_NOT_FOUND},
        {"nodir/file", OPEN_EXISTING, ERROR_PATH_NOT_FOUND},
        {"nodir/file", OPEN_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"nodir/deeper/file", CREATE_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"file/below", OPEN_ALWAYS, ERROR_PATH_NOT_FOUND},
        {"file", CREATE_NEW, ERROR_FILE_EXISTS},
        {"sub", OPEN_EXISTING, ERROR_ACCESS_DENIED},
        {"sub", OPEN_ALWAYS, ERROR_ACCESS_DENIED},
        {std::string(300, 'n'), CREATE_ALWAYS, ERROR_FILENAME_EXCED_RANGE},
        {"file", 0, ERROR_INVALID_PARAMETER},
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
        {CREATE_ALWAYS, true, ERROR_ALREADY_EXISTS, ""},
        {CREATE_ALWAYS, false, 0, ""},
        {CREATE_NEW, false, 0, ""},
        {OPEN_EXISTING, true, 0, "old content"},
        {TRUNCATE_EXISTING, true, 0, ""},
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
        // A refused opener must not truncate the file the holder has.
        {0, 0, CREATE_ALWAYS, false},
        {0, shared, TRUNCATE_EXISTING, false},
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

TEST_F(PosixFiles, FilePointerAndSizeBeyondFourGiB) {
    HANDLE h = Open("big", GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // 5 GiB + 16, sparse.
    LONG high = 1;
    EXPECT_EQ(SetFilePointer(h, 0x40000010, &high, FILE_BEGIN), 0x40000010u);
    EXPECT_EQ(high, 1);
    if (!SetEndOfFile(h)) {
        CloseHandle(h);
        GTEST_SKIP() << "file system refuses a 5 GiB sparse file, error " << GetLastError();
    }
    DWORD sizeHigh = 0;
    EXPECT_EQ(GetFileSize(h, &sizeHigh), 0x40000010u);
    EXPECT_EQ(sizeHigh, 1u);
    // Without a high part the position must fit in 32 bits.
    EXPECT_EQ(SetFilePointer(h, 0, nullptr, FILE_END), INVALID_SET_FILE_POINTER);
    high = -1;  // -16 as a 64-bit distance
    EXPECT_EQ(SetFilePointer(h, -16, &high, FILE_END), 0x40000000u);
    EXPECT_EQ(high, 1);
    EXPECT_EQ(SetFilePointer(h, 10, nullptr, FILE_BEGIN), 10u);
    EXPECT_EQ(SetFilePointer(h, -4, nullptr, FILE_CURRENT), 6u);
    EXPECT_EQ(SetFilePointer(h, -7, nullptr, FILE_CURRENT), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NEGATIVE_SEEK));
    EXPECT_TRUE(SetEndOfFile(h));
    EXPECT_EQ(GetFileSize(h, &sizeHigh), 6u);
    EXPECT_EQ(sizeHigh, 0u);
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

// A file-size limit stands in for a full disk. The child ignores SIGXFSZ so
// that the write fails instead of killing it.
TEST_F(PosixFiles, WriteBeyondSizeLimitIsDiskFull) {
    const std::string name = Path("full");
    DWORD result = InChild([&]() -> DWORD {
        marvostell::testing::LimitFileSize(4096);
        HANDLE h = CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) return 0xFFFE;
        static char data[10000];
        DWORD written = 0;
        BOOL ok = WriteFile(h, data, sizeof data, &written, nullptr);
        DWORD error = GetLastError();
        CloseHandle(h);
        if (ok || written != 4096) return 0xFFFD;
        return error;
    });
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_EQ(fs::file_size(name), 4096u);
}

// Permission bits do not stop root, so the child drops to an unprivileged
// user when it runs as root.
TEST_F(PosixFiles, ReadOnlyDirectoryIsAccessDenied) {
    Write("old", "x");
    fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::group_read |
                              fs::perms::group_exec | fs::perms::others_read |
                              fs::perms::others_exec);
    const std::string created = Path("new"), old = Path("old"), moved = Path("moved");
    DWORD result = InChild([&]() -> DWORD {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) return 0xFFFF;
        HANDLE h = CreateFileA(created.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        if (h != INVALID_HANDLE_VALUE) return 0xFFFE;
        DWORD createError = GetLastError();
        if (DeleteFileA(old.c_str()) || GetLastError() != createError) return 0xFFFD;
        if (MoveFileA(old.c_str(), moved.c_str()) || GetLastError() != createError) return 0xFFFC;
        return createError;
    });
    if (result == 0xFFFF) GTEST_SKIP() << "cannot drop privileges";
    EXPECT_EQ(result, static_cast<DWORD>(ERROR_ACCESS_DENIED));
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
        EXPECT_EQ(data.nFileSizeHigh, 0u) << c.name;
        EXPECT_STREQ(data.cFileName, c.fileName);
        EXPECT_NE(data.ftLastWriteTime.dwHighDateTime, 0u);
        EXPECT_TRUE(FindClose(h));
    }
    WIN32_FIND_DATAA data;
    EXPECT_EQ(FindFirstFileA(Path("pkg.exe.").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(FindFirstFileA(Path("nodir/pkg.exe").c_str(), &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
}

}  // namespace
