// The POSIX file calls on a file another handle holds (share modes against
// rename and delete, in this process and another) and on symbolic links
// (never followed where the caller asks for the link itself).
#include "platform/posix/win32_posix.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/wait.h>
#include <unistd.h>

#include "file_fixture.h"

namespace fs = std::filesystem;

namespace {

using PosixHeld = PosixFileTest;

const DWORD kReadWrite = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Windows refuses to rename or delete a file while a handle without
// FILE_SHARE_DELETE is open on it, whatever else that handle shares.
TEST_F(PosixHeld, RenameAndDeleteNeedEveryHolderToShareDelete) {
    struct Case {
        DWORD holderShare;
        bool allowed;
    } cases[] = {
        {0, false},
        {kReadWrite, false},
        {FILE_SHARE_DELETE, true},
        {kReadWrite | FILE_SHARE_DELETE, true},
    };
    for (const Case &c : cases) {
        for (bool rename : {true, false}) {
            std::error_code ec;
            fs::remove(Path("moved"), ec);
            Write("f", "held");
            HANDLE holder = Open("f", GENERIC_READ, c.holderShare, OPEN_EXISTING);
            ASSERT_NE(holder, INVALID_HANDLE_VALUE);
            SetLastError(0);
            const BOOL done = rename ? MoveFileA(Path("f").c_str(), Path("moved").c_str())
                                     : DeleteFileA(Path("f").c_str());
            const std::string what = (rename ? "move, share " : "delete, share ") +
                                     std::to_string(c.holderShare);
            EXPECT_EQ(done != FALSE, c.allowed) << what;
            if (!c.allowed) {
                EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION)) << what;
                EXPECT_EQ(Read("f"), "held") << what;
                EXPECT_FALSE(fs::exists(Path("moved"))) << what;
            }
            EXPECT_TRUE(CloseHandle(holder));
        }
    }
    // Once the holder has closed, both work.
    Write("f", "free");
    EXPECT_TRUE(MoveFileA(Path("f").c_str(), Path("moved").c_str()));
    EXPECT_TRUE(DeleteFileA(Path("moved").c_str()));
}

// A handle for writing only still keeps the file from being renamed, and
// reads through it are refused as on Windows.
TEST_F(PosixHeld, WriteOnlyHandleDeniesDeleteAndReading) {
    HANDLE h = Open("w", GENERIC_WRITE, 0, OPEN_ALWAYS);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(MoveFileA(Path("w").c_str(), Path("moved").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    char buffer[4];
    DWORD got = 7;
    EXPECT_FALSE(ReadFile(h, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(got, 0u);
    EXPECT_TRUE(CloseHandle(h));
}

// The holder is another process: the locks belong to the open file, not to
// this process.
TEST_F(PosixHeld, HolderInAnotherProcess) {
    Write("f", "held");
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t child = fork();
    if (child == 0) {
        HANDLE h = Open("f", GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING);
        char byte = h == INVALID_HANDLE_VALUE ? 'n' : 'y';
        if (write(ready[1], &byte, 1) != 1 || read(release[0], &byte, 1) != 1) _exit(1);
        _exit(0);
    }
    char byte = 0;
    ASSERT_EQ(read(ready[0], &byte, 1), 1);
    ASSERT_EQ(byte, 'y');
    EXPECT_FALSE(MoveFileA(Path("f").c_str(), Path("moved").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_FALSE(DeleteFileA(Path("f").c_str()));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    EXPECT_EQ(Open("f", GENERIC_READ, FILE_SHARE_DELETE, OPEN_EXISTING), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    ASSERT_EQ(write(release[1], "x", 1), 1);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(MoveFileA(Path("f").c_str(), Path("moved").c_str()));
    for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
}

class PosixLinks : public PosixHeld {
protected:
    void SetUp() override {
        PosixHeld::SetUp();
        outside_ = Path("outside");
        fs::create_directory(outside_);
        std::ofstream(outside_ + "/target", std::ios::binary) << "not yours";
        fs::create_directory(Path("local"));
        fs::create_symlink(outside_ + "/target", Path("local/link"));
        fs::create_symlink(outside_ + "/absent", Path("local/dangling"));
    }
    std::string outside_;
};

// With FILE_FLAG_OPEN_REPARSE_POINT no disposition reaches what a link
// leads to: nothing is written, extended, cut or created there.
TEST_F(PosixLinks, OpeningTheLinkItselfNeverReachesItsTarget) {
    for (const char *name : {"local/link", "local/dangling"}) {
        for (DWORD disposition : {OPEN_EXISTING, OPEN_ALWAYS}) {
            SetLastError(0);
            HANDLE h = Open(name, GENERIC_READ | GENERIC_WRITE, 0, disposition,
                            FILE_FLAG_OPEN_REPARSE_POINT);
            EXPECT_EQ(h, INVALID_HANDLE_VALUE) << name << " " << disposition;
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_CANT_RESOLVE_FILENAME))
                << name << " " << disposition;
            if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
        }
    }
    std::ifstream in(outside_ + "/target", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "not yours");
    EXPECT_FALSE(fs::exists(outside_ + "/absent"));
    // Without the flag a link is followed, as CreateFileA follows one.
    HANDLE h = Open("local/link", GENERIC_READ, 0, OPEN_EXISTING);
    EXPECT_NE(h, INVALID_HANDLE_VALUE);
    BY_HANDLE_FILE_INFORMATION info;
    ASSERT_TRUE(GetFileInformationByHandle(h, &info));
    EXPECT_EQ(GetFileSize(h, nullptr), 9u);
    EXPECT_EQ(info.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(info.nNumberOfLinks, 1u);
    FILE_ATTRIBUTE_TAG_INFO tag{0, 1};
    ASSERT_TRUE(GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, sizeof tag));
    EXPECT_EQ(tag.FileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(tag.ReparseTag, 0u);
    EXPECT_FALSE(GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tag, 4));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    CloseHandle(h);
}

// Found by name, a link is a reparse point of size 0, as Windows lists one;
// renamed or deleted, it is the link that goes, not its target.
TEST_F(PosixLinks, FoundRenamedAndDeletedAsTheLinkItself) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(Path("local/link").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_REPARSE_POINT));
    EXPECT_EQ(data.nFileSizeLow, 0u);
    FindClose(find);

    EXPECT_TRUE(MoveFileA(Path("local/link").c_str(), Path("local/link.err").c_str()));
    EXPECT_TRUE(fs::is_symlink(Path("local/link.err")));
    EXPECT_TRUE(DeleteFileA(Path("local/link.err").c_str()));
    EXPECT_TRUE(DeleteFileA(Path("local/dangling").c_str()));
    EXPECT_TRUE(fs::is_empty(Path("local")));
    std::ifstream in(outside_ + "/target", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "not yours");
}

}  // namespace
