// CheckNewVersionEx against a scripted server: what a broken server, a stop
// and a stall return, what is kept for the next call, and the options.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "marvostell.h"
#include "package/digest.h"
#include "platform/shared_flag.h"
#include "temp_dir.h"
#include "test_server.h"

using marvostell::testing::Response;
using marvostell::testing::ReadAll;
using marvostell::testing::TempDir;
using marvostell::testing::TestServer;

namespace {

constexpr uint32_t kLocal = 0x80000000u;
constexpr size_t kPackageSize = 40000;

bool Exists(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// A manifest offering p.bin (version 2) and the package itself.
struct Site {
    TestServer server;
    TempDir temp{"ex"};
    std::string dir = temp.path();
    std::string body = std::string(kPackageSize, 'q');
    MarvostellOptions options{sizeof(MarvostellOptions), 0, nullptr, nullptr, 0, 0, nullptr};
    MarvostellOffer offer{sizeof(MarvostellOffer), 0, 0, {}, 0, 0, {}, {}};
    char path[MARVOSTELL_PATH_BUFFER_SIZE] = "";

    Site() {
        for (size_t i = 0; i < body.size(); ++i) body[i] = static_cast<char>('a' + i % 23);
        marvostell::CMd5Hex md5;
        md5.Add(body.data(), body.size());
        server.file("/update.ini", "[General]\nupdate=p\n[p]\nversion=2\nPackage=/p.bin\n"
                                   "PackageSize=" + std::to_string(kPackageSize) +
                                       "\nMd5=" + md5.Finish() + "\n");
        server.file("/p.bin", body);
    }
    uint32_t Check(uint32_t pathSize = MARVOSTELL_PATH_BUFFER_SIZE) {
        return static_cast<uint32_t>(CheckNewVersionEx(nullptr, 0, 1,
                                                       server.url("/update.ini").c_str(),
                                                       dir.c_str(), path, pathSize, &options,
                                                       &offer));
    }
    std::string Package() const { return dir + "/p.bin"; }
    size_t PackageRequests() const {
        size_t count = 0;
        for (const std::string &r : server.requests()) count += r.compare(0, 10, "GET /p.bin") == 0;
        return count;
    }
};

}  // namespace

TEST(CheckNewVersionEx, ManifestAnswersOtherThan200AreTheirStatus) {
    for (int status : {404, 403, 500, 401, 407}) {
        Site site;
        std::ofstream(site.dir + "/update.ini") << "kept";
        Response answer;
        answer.status = status;
        answer.body = "<html><title>no</title></html>";
        site.server.route("/update.ini", answer);
        EXPECT_EQ(site.Check(), static_cast<uint32_t>(status));
        EXPECT_EQ(ReadAll(site.dir + "/update.ini"), "kept") << status;
        EXPECT_EQ(site.offer.version, 0u) << "no package was selected";
    }
}

TEST(CheckNewVersionEx, AnAnswerWithoutGeneralIsNotAManifest) {
    Site site;
    site.server.file("/update.ini", "<html><body>Welcome</body></html>\n");
    EXPECT_EQ(site.Check(), static_cast<uint32_t>(MARVOSTELL_ERR_NOT_A_MANIFEST));
    EXPECT_EQ(site.PackageRequests(), 0u);
}

// A package answer other than 200 or 206 adds nothing to the file.
TEST(CheckNewVersionEx, PackageStatusIsReportedAndNothingIsAppended) {
    Site site;
    std::ofstream(site.Package()) << site.body.substr(0, 1000);
    Response missing;
    missing.status = 404;
    missing.body = "not here";
    site.server.route("/p.bin", missing);
    EXPECT_EQ(site.Check(), kLocal | 404);
    EXPECT_EQ(ReadAll(site.Package()), site.body.substr(0, 1000));
    EXPECT_FALSE(Exists(site.Package() + ".err"));
    EXPECT_EQ(site.offer.version, 2u);
    EXPECT_EQ(site.offer.packageSize, kPackageSize);
    EXPECT_STREQ(site.offer.section, "p");
}

// A transfer cut short keeps what arrived, and the next call asks for the rest.
TEST(CheckNewVersionEx, DroppedTransferIsKeptAndResumed) {
    for (bool reset : {false, true}) {
        Site site;
        Response cut;
        cut.body = site.body;
        cut.ranges = true;
        cut.drop_after = 20000;
        cut.reset = reset;
        site.server.route("/p.bin", cut);
        EXPECT_EQ(site.Check(), kLocal | 12030) << reset;
        const std::string kept = ReadAll(site.Package());
        EXPECT_GT(kept.size(), 0u);
        EXPECT_EQ(kept, site.body.substr(0, kept.size()));
        EXPECT_FALSE(Exists(site.Package() + ".err"));

        site.server.file("/p.bin", site.body);
        site.server.clear_requests();
        EXPECT_EQ(site.Check(), 1u);
        EXPECT_EQ(ReadAll(site.Package()), site.body);
        ASSERT_EQ(site.server.requests().size(), 2u);
        EXPECT_NE(site.server.requests()[1].find("Range: bytes=" + std::to_string(kept.size()) + "-"),
                  std::string::npos);
    }
}

// A server that ignores the range sends the whole package: it replaces the
// partial file instead of following it.
TEST(CheckNewVersionEx, WholeAnswerToARangeStartsTheFileAfresh) {
    Site site;
    std::ofstream(site.Package()) << site.body.substr(0, 5000);
    Response whole;  // ranges ignored: the whole body with 200
    whole.body = site.body;
    site.server.route("/p.bin", whole);
    EXPECT_EQ(site.Check(), 1u);
    EXPECT_EQ(ReadAll(site.Package()), site.body);
}

TEST(CheckNewVersionEx, StalledTransfersFailWithTheTimeOut) {
    {
        Site site;
        site.options.stallSeconds = 1;
        site.server.on_request([](const std::string &) {
            std::this_thread::sleep_for(std::chrono::seconds(3));
        });
        EXPECT_EQ(site.Check(), 12002u) << "a manifest that never answers";
    }
    {
        Site site;
        site.options.stallSeconds = 1;
        Response slow;
        slow.body = site.body;
        slow.ranges = true;
        slow.trickle_piece = 10000;
        slow.trickle_delay_ms = 3000;
        site.server.route("/p.bin", slow);
        EXPECT_EQ(site.Check(), kLocal | 12002) << "a package that stops arriving";
        EXPECT_TRUE(Exists(site.Package()));
        EXPECT_FALSE(Exists(site.Package() + ".err"));
    }
}

// The cancel flag and the deadline end a call that waits on a silent server,
// within a second, and keep a partial package.
TEST(CheckNewVersionEx, CancelAndDeadlineEndAWaitingCall) {
    using Clock = std::chrono::steady_clock;
    for (bool manifestWaits : {true, false}) {
        for (bool byDeadline : {false, true}) {
            Site site;
            volatile int32_t cancel = 0;
            if (byDeadline)
                site.options.deadlineSeconds = 1;
            else
                site.options.cancel = &cancel;
            Response slow;
            slow.body = site.body;
            slow.ranges = true;
            slow.trickle_piece = 10000;
            slow.trickle_delay_ms = 4000;
            if (manifestWaits)
                site.server.on_request([](const std::string &request) {
                    if (request.compare(0, 15, "GET /update.ini") == 0)
                        std::this_thread::sleep_for(std::chrono::seconds(4));
                });
            else
                site.server.route("/p.bin", slow);
            std::thread canceller([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(1000));
                marvostell::StoreSharedFlag(&cancel, 1);
            });
            const Clock::time_point start = Clock::now();
            const uint32_t result = site.Check();
            const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
            canceller.join();
            EXPECT_EQ(result, byDeadline ? 1460u : 1223u) << manifestWaits;
            EXPECT_LT(seconds, 2.5) << manifestWaits << byDeadline;
            if (!manifestWaits) {
                const std::string kept = ReadAll(site.Package());
                EXPECT_GT(kept.size(), 0u);
                EXPECT_EQ(kept, site.body.substr(0, kept.size())) << "a prefix of the package";
                EXPECT_FALSE(Exists(site.Package() + ".err"));
            }
        }
    }
}

TEST(CheckNewVersionEx, CancelledBeforeTheCallAsksNothing) {
    Site site;
    volatile int32_t cancel = 1;
    site.options.cancel = &cancel;
    EXPECT_EQ(site.Check(), 1223u);
    EXPECT_TRUE(site.server.requests().empty());
}

TEST(CheckNewVersionEx, CheckOnlyOffersWithoutFetching) {
    Site site;
    site.options.flags = MARVOSTELL_CHECK_ONLY;
    EXPECT_EQ(site.Check(), static_cast<uint32_t>(MARVOSTELL_AVAILABLE));
    EXPECT_EQ(site.PackageRequests(), 0u);
    EXPECT_EQ(site.offer.version, 2u);
    EXPECT_EQ(site.offer.packageSize, kPackageSize);
    EXPECT_STREQ(site.offer.section, "p");
    EXPECT_FALSE(Exists(site.Package()));

    std::ofstream(site.Package(), std::ios::binary) << site.body;
    EXPECT_EQ(site.Check(), 1u) << "a verified package already here";
    EXPECT_EQ(std::string(site.path), site.Package());
    EXPECT_EQ(site.PackageRequests(), 0u);
}

// A path that does not fit is an error that keeps the package: a call with
// room enough then returns it without a download.
TEST(CheckNewVersionEx, SmallPathBufferKeepsTheVerifiedPackage) {
    Site site;
    const uint32_t fits = static_cast<uint32_t>(site.Package().size()) + 1;
    std::memset(site.path, '#', sizeof site.path);
    EXPECT_EQ(site.Check(fits - 1), kLocal | 122);
    EXPECT_EQ(site.path[0], '#');
    EXPECT_EQ(ReadAll(site.Package()), site.body);
    EXPECT_EQ(site.Check(fits), 1u);
    EXPECT_EQ(std::string(site.path), site.Package());
    EXPECT_EQ(site.path[fits], '#');
    EXPECT_EQ(site.PackageRequests(), 1u);
    EXPECT_EQ(static_cast<uint32_t>(CheckNewVersionEx(nullptr, 0, 1,
                                                      site.server.url("/update.ini").c_str(),
                                                      site.dir.c_str(), nullptr, 0, nullptr,
                                                      nullptr)),
              1u)
        << "no buffer: the path is not wanted";
}

TEST(CheckNewVersionEx, UserAgentReplacesTheLineOrIsRefused) {
    Site site;
    site.options.userAgent = "Host/2.0 (update check)";
    EXPECT_EQ(site.Check(), 1u);
    ASSERT_EQ(site.server.requests().size(), 2u);
    for (const std::string &request : site.server.requests())
        EXPECT_NE(request.find("\r\nUser-Agent: Host/2.0 (update check)\r\n"), std::string::npos);

    for (const char *bad : {"Host\r\nX-Evil: 1", "Host\n", "Host\r"}) {
        Site refused;
        refused.options.userAgent = bad;
        EXPECT_EQ(refused.Check(), 87u);
        EXPECT_TRUE(refused.server.requests().empty());
    }
}

// A host built against a shorter structure: the fields past its size are
// never read, and the offer's fields past its size never written.
TEST(CheckNewVersionEx, ReadsAndWritesOnlyTheFieldsTheSizesCover) {
    Site site;
    volatile int32_t cancel = 1;
    site.options.cancel = &cancel;
    site.options.flags = MARVOSTELL_CHECK_ONLY;
    site.options.size = offsetof(MarvostellOptions, trustedKeys);
    site.offer.size = offsetof(MarvostellOffer, packageSize);
    EXPECT_EQ(site.Check(), static_cast<uint32_t>(MARVOSTELL_AVAILABLE));
    EXPECT_EQ(site.offer.version, 2u);
    EXPECT_EQ(site.offer.packageSize, 0u);
    EXPECT_STREQ(site.offer.section, "");
}
