// The transfer's failure paths, driven through DownloadFile directly.
#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "child.h"
#include "entry/update_client.h"
#include "temp_dir.h"
#include "test_server.h"

using namespace marvostell;
using marvostell::testing::Response;
using marvostell::testing::TempDir;
using marvostell::testing::TestServer;

namespace {

std::string ReadAll(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

struct Transfer {
    TestServer server;
    CUpdateClient client;
    TempDir temp{"download"};
    std::string dir = temp.path();
    std::string body = std::string(20000, 'p');

    Transfer() {
        server.file("/pkg.bin", body);
        client.m_strServer = "127.0.0.1:" + std::to_string(server.port());
        client.m_strPackagePath = "/pkg.bin";
        client.m_nPackageSize = static_cast<uint32_t>(body.size());
        client.m_nError = 12345;
    }
    std::string Path() const { return dir + "/pkg.bin"; }
};

// Runs `body` in a child process and expects it to return true.
void InChild(const std::function<bool()> &body) {
    const auto report = marvostell::testing::InChild([&] { return std::string(body() ? "ok" : "failed"); });
    EXPECT_TRUE(report.exited);
    EXPECT_EQ(report.text, "ok");
}

}  // namespace

TEST(DownloadFile, MissingDirectoryIsALocalFileError) {
    Transfer t;
    EXPECT_EQ(t.client.DownloadFile((t.dir + "/missing/pkg.bin").c_str()), 0);
    EXPECT_EQ(static_cast<uint32_t>(t.client.GetErrorCode()), 0x80000003u);
    EXPECT_EQ(t.server.requests().size(), 1u) << "the request goes out before the file is opened";
    EXPECT_EQ(t.client.m_bDownloadComplete, 0);
}

TEST(DownloadFile, FullDiskKeepsWhatWasAppended) {
    Transfer t;
    std::ofstream(t.Path()) << std::string(1000, 'p');
    InChild([&] {
        marvostell::testing::LimitFileSize(12000);
        return t.client.DownloadFile(t.Path().c_str()) == 0 &&
               static_cast<uint32_t>(t.client.GetErrorCode()) == (0x80000000u | 112);
    });
    const std::string kept = ReadAll(t.Path());
    EXPECT_GE(kept.size(), 9192u) << "the existing bytes and the first whole read";
    EXPECT_LE(kept.size(), 12000u);
    EXPECT_EQ(kept, std::string(kept.size(), 'p'));
}

TEST(DownloadFile, ReadOnlyDirectoryIsALocalFileError) {
    Transfer t;
    const passwd *nobody = getpwnam("nobody");
    if (!nobody) GTEST_SKIP() << "no unprivileged user to run as";
    chmod(t.dir.c_str(), 0555);
    InChild([&] {
        if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) return false;
        return t.client.DownloadFile(t.Path().c_str()) == 0 &&
               static_cast<uint32_t>(t.client.GetErrorCode()) == 0x80000005u;
    });
}

TEST(DownloadFile, FailedRequestStoresItsCodeWithBit31) {
    Transfer t;
    t.server.stop();
    EXPECT_EQ(t.client.DownloadFile(t.Path().c_str()), 0);
    EXPECT_EQ(static_cast<uint32_t>(t.client.GetErrorCode()), 0x80000000u | 12029);
    struct stat info;
    EXPECT_NE(stat(t.Path().c_str(), &info), 0) << "the file is not created before the request succeeds";
}

TEST(DownloadFile, ResetMidBodyKeepsWhatArrived) {
    Transfer t;
    Response cut;
    cut.body = t.body;
    cut.ranges = true;
    cut.drop_after = 9000;
    cut.reset = true;
    t.server.route("/pkg.bin", cut);
    EXPECT_EQ(t.client.DownloadFile(t.Path().c_str()), 1);
    EXPECT_EQ(t.client.m_bDownloadComplete, 0);
    EXPECT_EQ(t.client.GetErrorCode(), 12345) << "an early end is no error of the transfer";
    const std::string kept = ReadAll(t.Path());
    EXPECT_GE(kept.size(), 8192u);
    EXPECT_LE(kept.size(), 9000u);
}

TEST(DownloadFile, CompleteFileMakesNoRequest) {
    Transfer t;
    std::ofstream(t.Path()) << std::string(25000, 'x');
    EXPECT_EQ(t.client.DownloadFile(t.Path().c_str()), 1);
    EXPECT_EQ(t.client.m_bDownloadComplete, 1);
    EXPECT_TRUE(t.server.requests().empty());
    EXPECT_EQ(ReadAll(t.Path()).size(), 25000u);
}

// Another check completes the file while this one's request is on its way:
// the body must not be appended to the other's work.
TEST(DownloadFile, FileChangedSinceMeasuredIsLeftAlone) {
    Transfer t;
    std::ofstream(t.Path()) << t.body.substr(0, 5000);
    const std::string path = t.Path(), whole = t.body;
    t.server.on_request([&](const std::string &) { std::ofstream(path) << whole; });
    EXPECT_EQ(t.client.DownloadFile(t.Path().c_str()), 0);
    EXPECT_EQ(static_cast<uint32_t>(t.client.GetErrorCode()), 0x80000020u);
    EXPECT_EQ(ReadAll(t.Path()), t.body);
}
