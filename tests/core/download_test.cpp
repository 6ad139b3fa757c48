// The transfer's failure paths, driven through the transfer and package step
// directly: each failure names its stage.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <set>
#include <string>

#include "marvostell.h"
#include "package/digest.h"
#include "injected_fault.h"
#include "manifest/manifest_reader.h"
#include "package/package_step.h"
#include "package/transfer.h"
#include "temp_dir.h"
#include "test_server.h"

using namespace marvostell;
using marvostell::testing::Response;
using marvostell::testing::FileNames;
using marvostell::testing::ReadAll;
using marvostell::testing::TempDir;
using marvostell::testing::TestServer;

using marvostell::testing::InjectedFault;

namespace {

struct Transfer {
    TestServer server;
    TempDir temp{"download"};
    std::string dir = temp.path();
    std::string body = std::string(20000, 'p');
    std::string server_address = "127.0.0.1:" + std::to_string(server.port());
    BYTE buffer[32768];
    bool complete = false;

    Transfer() { server.file("/pkg.bin", body); }
    std::string Path() const { return dir + "/pkg.bin"; }
    StepResult Run(const std::string &localPath) {
        const TransferRequest request{server_address, "/pkg.bin", localPath,
                                      static_cast<uint32_t>(body.size()), CheckRules(), buffer};
        return TransferPackage(request, complete);
    }
};

void ExpectFailure(const StepResult &result, Stage stage, uint32_t code) {
    EXPECT_EQ(result.stage, stage);
    EXPECT_EQ(result.code, code);
}

namespace sys = marvostell::posix;

std::string Md5Hex(const std::string &data) {
    CMd5Hex md5;
    md5.Add(data.data(), data.size());
    return md5.Finish();
}

}  // namespace

TEST(TransferPackage, MissingDirectoryIsALocalFileError) {
    Transfer t;
    ExpectFailure(t.Run(t.dir + "/missing/pkg.bin"), Stage::kPackageFile, ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(t.server.requests().size(), 1u) << "the request goes out before the file is opened";
    EXPECT_FALSE(t.complete);
}

// The second write of the body fails: the existing bytes and the first read
// stay, and the code is the write's.
TEST(TransferPackage, WriteFailingMidTransferKeepsWhatWasAppended) {
    Transfer t;
    std::ofstream(t.Path()) << std::string(1000, 'p');
    {
        InjectedFault fault(sys::SystemCall::Write, 2, ENOSPC);
        ExpectFailure(t.Run(t.Path()), Stage::kPackageFile, ERROR_DISK_FULL);
    }
    EXPECT_FALSE(t.complete);
    const std::string kept = ReadAll(t.Path());
    EXPECT_EQ(kept, std::string(kept.size(), 'p'));
    EXPECT_GT(kept.size(), 1000u);
    EXPECT_LT(kept.size(), t.body.size());
}

TEST(TransferPackage, FileThatCannotBeCreatedIsALocalFileError) {
    Transfer t;
    {
        InjectedFault fault(sys::SystemCall::Open, 1, EACCES);
        ExpectFailure(t.Run(t.Path()), Stage::kPackageFile, ERROR_ACCESS_DENIED);
    }
    struct stat info;
    EXPECT_NE(stat(t.Path().c_str(), &info), 0);
}

// A package that fails its digest and cannot be moved aside (its ".err"
// name is taken, say) is deleted: left in place, it would fail every later
// call without a new download.
TEST(FetchPackage, RejectedPackageThatCannotBeMovedIsDeleted) {
    Transfer t;
    std::ofstream(t.dir + "/update.ini") << "[pkg]\nPackage=/pkg.bin\nPackageSize=20000\n"
                                            "Md5=00000000000000000000000000000000\n";
    const CManifestReader manifest(t.dir + "/update.ini");
    const PackageStepRequest request{manifest, "pkg", t.server_address, t.dir, CheckRules(),
                                     t.buffer};
    PackageStepReport report;
    {
        InjectedFault fault(sys::SystemCall::Rename, 1, EACCES);
        EXPECT_EQ(FetchPackage(request, report).stage, Stage::kDigest);
    }
    EXPECT_TRUE(report.pathForHost.empty()) << "no path for a file fetched by this call";
    struct stat info;
    EXPECT_NE(stat(t.Path().c_str(), &info), 0);
    EXPECT_NE(stat((t.Path() + ".err").c_str(), &info), 0);
}

namespace {

volatile int32_t g_cancel = 0;
unsigned g_reads = 0, g_failAt = 0, g_cancelAt = 0;

// The digest's reads: the g_failAt-th fails; during the g_cancelAt-th the
// host cancels.
ssize_t DigestRead(int fd, void *buffer, size_t size) {
    if (++g_reads == g_failAt) {
        errno = EIO;
        return -1;
    }
    if (g_reads == g_cancelAt) g_cancel = 1;
    return sys::RealSystemCalls().read(fd, buffer, size);
}

}  // namespace

// Reading the complete package for its digest (three pieces) fails, or the
// host cancels between two pieces: the digest was not computed, so it is no
// mismatch. The package stays as it is, nothing is moved aside, and the
// failure is the read's or the stop, with no piece read after it.
TEST(FetchPackage, DigestThatCannotBeComputedKeepsThePackage) {
    const struct {
        const char *name;
        unsigned failAt, cancelAt, reads;
        StepResult expected;
    } cases[] = {
        {"first read fails", 1, 0, 1, {Stage::kPackageFile, ERROR_IO_DEVICE}},
        {"last read fails", 3, 0, 3, {Stage::kPackageFile, ERROR_IO_DEVICE}},
        {"cancelled", 0, 2, 2, {Stage::kStopped, ERROR_CANCELLED}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Transfer t;
        std::ofstream(t.Path()) << t.body;
        const std::string text = "[pkg]\nPackage=/pkg.bin\nPackageSize=20000\nMd5=" + Md5Hex(t.body) + "\n";
        const CManifestReader manifest =
            CManifestReader::Snapshot(reinterpret_cast<const BYTE *>(text.data()), text.size());
        g_cancel = 0;
        g_reads = 0;
        g_failAt = c.failAt;
        g_cancelAt = c.cancelAt;
        CCallGuard guard(&g_cancel, 0);
        HttpControl control;
        control.guard = &guard;
        CheckRules rules;
        rules.control = &control;
        const PackageStepRequest request{manifest, "pkg", t.server_address, t.dir, rules, t.buffer};
        PackageStepReport report;
        sys::SystemCalls reads = sys::RealSystemCalls();
        reads.read = DigestRead;
        sys::ReplaceSystemCalls(reads);
        ExpectFailure(FetchPackage(request, report), c.expected.stage, c.expected.code);
        sys::RestoreSystemCalls();
        EXPECT_EQ(g_reads, c.reads);
        EXPECT_EQ(ReadAll(t.Path()), t.body);
        EXPECT_EQ(FileNames(t.dir), std::set<std::string>{"pkg.bin"});
    }
}

TEST(TransferPackage, FailedRequestIsAPackageRequestFailure) {
    Transfer t;
    t.server.stop();
    ExpectFailure(t.Run(t.Path()), Stage::kPackageRequest, ERROR_INTERNET_CANNOT_CONNECT);
    struct stat info;
    EXPECT_NE(stat(t.Path().c_str(), &info), 0) << "the file is not created before the request succeeds";
}

TEST(TransferPackage, ResetMidBodyKeepsWhatArrived) {
    Transfer t;
    Response cut;
    cut.body = t.body;
    cut.ranges = true;
    cut.drop_after = 9000;
    cut.reset = true;
    t.server.route("/pkg.bin", cut);
    EXPECT_TRUE(t.Run(t.Path()).Ok()) << "an early end is no error of the transfer";
    EXPECT_FALSE(t.complete);
    const std::string kept = ReadAll(t.Path());
    EXPECT_GE(kept.size(), 8192u);
    EXPECT_LE(kept.size(), 9000u);
}

TEST(TransferPackage, CompleteFileMakesNoRequest) {
    Transfer t;
    std::ofstream(t.Path()) << std::string(25000, 'x');
    EXPECT_TRUE(t.Run(t.Path()).Ok());
    EXPECT_TRUE(t.complete);
    EXPECT_TRUE(t.server.requests().empty());
    EXPECT_EQ(ReadAll(t.Path()).size(), 25000u);
}

// Another check completes the file while this one's request is on its way:
// the body must not be appended to the other's work.
TEST(TransferPackage, FileChangedSinceMeasuredIsLeftAlone) {
    Transfer t;
    std::ofstream(t.Path()) << t.body.substr(0, 5000);
    const std::string path = t.Path(), whole = t.body;
    t.server.on_request([&](const std::string &) { std::ofstream(path) << whole; });
    ExpectFailure(t.Run(t.Path()), Stage::kPackageFile, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(ReadAll(t.Path()), t.body);
}

// A disk that stays full from the package's second write on (the manifest's
// copy is the first write of the check): the check ends with the write's
// error, the package file is a clean prefix of the package, no digest check
// moves it aside, and the next check resumes from it.
TEST(CheckNewVersion, DiskFullForGoodKeepsAPrefixToResumeFrom) {
    TestServer server;
    std::string body(50000, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = marvostell::testing::PatternByte(i);
    server.file("/update.ini", "[General]\nupdate=p\n[p]\nversion=2\nPackage=/pkg.bin\n"
                               "PackageSize=50000\nMd5=" + Md5Hex(body) + "\n");
    Response package;
    package.body = body;
    package.ranges = true;
    server.route("/pkg.bin", package);
    const TempDir temp{"download"};
    const std::string dir = temp.path(), url = server.url("/update.ini");
    char path[MARVOSTELL_PATH_BUFFER_SIZE] = "";
    {
        InjectedFault fault(sys::SystemCall::Write, 3, ENOSPC,
                            marvostell::testing::FaultMode::FromThenOn);
        EXPECT_EQ(static_cast<uint32_t>(CheckNewVersion(nullptr, 0, 1, url.c_str(), dir.c_str(), path)),
                  0x80000000u | 112);
    }
    EXPECT_EQ(FileNames(dir), (std::set<std::string>{"pkg.bin", "update.ini"}));
    const std::string kept = ReadAll(dir + "/pkg.bin");
    EXPECT_EQ(kept, body.substr(0, 8192)) << "exactly the one piece that was written";

    server.clear_requests();
    EXPECT_EQ(CheckNewVersion(nullptr, 0, 1, url.c_str(), dir.c_str(), path), 1);
    EXPECT_EQ(ReadAll(dir + "/pkg.bin"), body);
    ASSERT_EQ(server.requests().size(), 2u);
    EXPECT_NE(server.requests()[1].find("Range: bytes=8192-"), std::string::npos);
}
