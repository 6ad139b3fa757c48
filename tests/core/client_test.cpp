// The core's steps that the export does not show on their own: the URL split,
// the trace texts, the digest's text, and the export's boundary.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "entry/update_check.h"
#include "http/http_get.h"
#include "http/http_redirect.h"
#include "framework/trace.h"
#include "manifest/manifest_fetch.h"
#include "manifest/selection.h"
#include "marvostell.h"
#include "package/digest.h"
#include "package/package_step.h"
#include "platform/posix/system_calls.h"
#include "injected_fault.h"
#include "temp_dir.h"
#include "test_server.h"
#include "trace_capture.h"

using namespace marvostell;
using marvostell::testing::TempDir;

namespace {

std::vector<std::string> g_traces;
void CaptureTrace(const char *text) { g_traces.push_back(text); }

struct TraceCaptured {
    TraceCaptured() {
        g_traces.clear();
        SetTraceCaptureForTesting(CaptureTrace);
    }
    ~TraceCaptured() { SetTraceCaptureForTesting(nullptr); }
};

}  // namespace

TEST(ParseServerUrl, SplitsHostAndPath) {
    struct Case {
        const char *url;
        int result;
        const char *server;
        const char *object;
    } cases[] = {
        {"http://example.org/update/update.ini", 1, "example.org", "/update/update.ini"},
        {"example.org/update/update.ini", 1, "example.org", "/update/update.ini"},
        {"https://example.org:8443/u.ini", 1, "example.org:8443", "/u.ini"},
        {"  ftp://h/a b/c.ini \r\n", 1, "h", "/a b/c.ini"},
        {"http://h/", 1, "h", "/"},
        {"http://h/x://y", 1, "h", "/x://y"},
        {"h:80/x?q=1", 1, "h:80", "/x?q=1"},
        {"http://example.org", 0, nullptr, nullptr},
        {"", 0, nullptr, nullptr},
    };
    for (const Case &c : cases) {
        std::string server, object;
        const StepResult result = ParseServerUrl(c.url, server, object);
        EXPECT_EQ(result.Ok(), c.result == 1) << c.url;
        if (c.result) {
            EXPECT_EQ(server, c.server) << c.url;
            EXPECT_EQ(object, c.object) << c.url;
        } else {
            EXPECT_EQ(ResultOf(result), MARVOSTELL_ERR_BAD_URL) << c.url;
        }
    }
}

TEST(SplitHostPort, TakesOnlyAValidPort) {
    struct Case {
        const char *server;
        const char *host;
        INTERNET_PORT port;
    } cases[] = {
        {"example.org", "example.org", 80},  {"example.org:8080", "example.org", 8080},
        {"h:1", "h", 1},                     {"h:65535", "h", 65535},
        {"h:65536", "h:65536", 80},          {"h:0", "h:0", 80},
        {"h:", "h:", 80},                    {"h:8o", "h:8o", 80},
        {":8080", ":8080", 80},              {"[::1]:8080", "::1", 8080},
        {"::1", "::1", 80},                  {"h:123456", "h:123456", 80},
    };
    for (const Case &c : cases) {
        std::string host;
        INTERNET_PORT port = 0;
        SplitHostPort(c.server, host, port);
        EXPECT_EQ(host, c.host) << c.server;
        EXPECT_EQ(port, c.port) << c.server;
    }
}

// Where a TLS request's redirect leads: only to TLS, never to plain HTTP.
TEST(ResolveLocation, FollowsOnlyToTls) {
    const HttpTarget from{"update.example", 8443, "/dir/update.ini?x=1", true};
    const auto follow = LocationVerdict::kFollow;
    struct Case {
        const char *location;
        LocationVerdict verdict;
        const char *host;
        INTERNET_PORT port;
        const char *object;
    } cases[] = {
        {"https://cdn.example/p.bin", follow, "cdn.example", 443, "/p.bin"},
        {" HTTPS://cdn.example:9443 ", follow, "cdn.example", 9443, "/"},
        {"https://[::1]:9443/a?b#frag", follow, "::1", 9443, "/a?b"},
        {"//cdn.example/p.bin", follow, "cdn.example", 443, "/p.bin"},
        {"/moved/update.ini", follow, "update.example", 8443, "/moved/update.ini"},
        {"next.ini", follow, "update.example", 8443, "/dir/next.ini"},
        {"http://cdn.example/p.bin", LocationVerdict::kToPlain, "", 0, ""},
        {"HTTP://update.example:8443/dir/update.ini", LocationVerdict::kToPlain, "", 0, ""},
        {"ftp://cdn.example/p.bin", LocationVerdict::kUnusable, "", 0, ""},
        {"https://user:pw@cdn.example/p.bin", LocationVerdict::kUnusable, "", 0, ""},
        {"https:///p.bin", LocationVerdict::kUnusable, "", 0, ""},
        {"  ", LocationVerdict::kUnusable, "", 0, ""},
    };
    for (const Case &c : cases) {
        HttpTarget next;
        EXPECT_EQ(ResolveLocation(from, c.location, next), c.verdict) << c.location;
        if (c.verdict != follow) continue;
        EXPECT_EQ(next.host, c.host) << c.location;
        EXPECT_EQ(next.port, c.port) << c.location;
        EXPECT_EQ(next.object, c.object) << c.location;
        EXPECT_TRUE(next.secure) << c.location;
    }
}

TEST(FetchManifest, TracesTheFailingCallAndStoresItsCode) {
    TraceCaptured traces;
    const TempDir temp{"core"};
    const std::string dir = temp.path() + "///";
    const CheckRequest request{nullptr, 0, 0, "http://nonexistent.invalid/update.ini", dir.c_str()};
    const CheckOutcome outcome = RunUpdateCheck(request, nullptr);
    EXPECT_EQ(outcome.failure.stage, Stage::kManifestRequest);
    EXPECT_EQ(ResultOf(outcome.failure), 12007);
    EXPECT_TRUE(outcome.localManifest.empty());
    EXPECT_FALSE(outcome.selected) << "no selection without a manifest";
    const std::vector<std::string> expected = {
        "Marvostell!Server nonexistent.invalid, File /update.ini\n",
        "HttpSendRequest failed with error 0x2ee7\n",
        "Exception 4\n",
    };
    EXPECT_EQ(g_traces, expected);
}

// The new manifest is written beside the old one and moved over it: when the
// write or the move fails, it is a local-file failure with its code, the old
// manifest stays whole, and nothing is left beside it.
TEST(FetchManifest, ReportsAManifestThatCannotBeStored) {
    namespace sys = marvostell::posix;
    marvostell::testing::TestServer server;
    server.file("/update.ini", std::string(3000, 'm'));
    const TempDir temp{"core"};
    const std::string dir = temp.path(), path = dir + "/update.ini";
    const std::string address = "127.0.0.1:" + std::to_string(server.port());
    const std::string old(2000, 'x');
    const struct {
        sys::SystemCall call;
        int err;
        uint32_t code;
    } cases[] = {
        {sys::SystemCall::Write, ENOSPC, 0x80000000u | 112},
        {sys::SystemCall::RenameReplacing, EIO, 0x80000000u | 1117},
    };
    BYTE buffer[kManifestLimit];
    for (const auto &c : cases) {
        std::ofstream(path) << old;
        marvostell::testing::FailSystemCall(c.call, 1, c.err);
        const StepResult result = FetchManifest(address, "/update.ini", path.c_str(), buffer);
        sys::RestoreSystemCalls();
        EXPECT_EQ(result.stage, Stage::kManifestFile);
        EXPECT_EQ(static_cast<uint32_t>(ResultOf(result)), c.code);
        std::ifstream in(path, std::ios::binary);
        const std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(kept, old);
        EXPECT_EQ(std::system(("test $(ls " + dir + " | wc -l) -eq 1").c_str()), 0)
            << "only update.ini in the directory";
    }
}

TEST(FindNewPackage, TracesTheWalk) {
    TraceCaptured traces;
    const TempDir temp{"core"};
    const std::string dir = temp.path();
    std::ofstream(dir + "/update.ini") << "[General]\nupdate=old,,new\n[old]\nversion=1\n"
                                          "[new]\nversion=0x20\nUnsupport=u x\nSupport=s,y\n";
    const CManifestReader manifest(dir + "/update.ini");
    std::string section;
    ASSERT_TRUE(SelectPackage(manifest, 5, 0, nullptr, section));
    EXPECT_EQ(section, "new");
    const std::vector<std::string> expected = {
        "marvostell!check package: old\n",
        "marvostell!check package: \n",
        "marvostell!check package: new\n",
        "marvostell!check package: new, version 20, language \n",
        "marvostell!check package: new, IsUnSupportVersion u x\n",
        "marvostell!check package: new, IsSupportVersion s\n",
        "Marvostell!HasNewVersion 0x20, CurrentVersion 0x5\n",
    };
    EXPECT_EQ(g_traces, expected);

    std::ofstream(dir + "/update.ini") << "[General]\nupdate=\n";
    g_traces.clear();
    EXPECT_FALSE(SelectPackage(manifest, 5, 0, nullptr, section));
    EXPECT_EQ(g_traces, std::vector<std::string>{"marvostell!update null\n"});
}

TEST(DigestHex, WritesUpperCaseDigitsHighHalfFirst) {
    const uint8_t bytes[] = {0x00, 0x9F, 0xA0, 0xFF};
    EXPECT_EQ(DigestHex(bytes, 4), "009FA0FF");
    EXPECT_EQ(DigestHex(bytes, 0), "");
    CMd5Hex md5;
    md5.Add("a", 1);
    md5.Add("bc", 2);
    EXPECT_EQ(md5.Finish(), "900150983CD24FB0D6963F7D28E17F72");
    EXPECT_EQ(md5.Finish(), "D41D8CD98F00B204E9800998ECF8427E") << "starts afresh after Finish";
}

TEST(CheckDigests, ComparesExactlyAndTraces) {
    TraceCaptured traces;
    const TempDir temp{"core"};
    const std::string path = temp.path() + "/abc";
    std::ofstream(path) << "abc";
    BYTE buffer[64];
    const auto verify = [&](const char *expected) {
        HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        const StepResult result =
            CheckDigests(file, path.c_str(), DigestCheck{expected, "", buffer, sizeof buffer});
        CloseHandle(file);
        return result.stage;
    };
    EXPECT_EQ(verify("900150983CD24FB0D6963F7D28E17F72"), Stage::kNone);
    EXPECT_EQ(verify("900150983cd24fb0d6963f7d28e17f72"), Stage::kDigest);
    EXPECT_EQ(verify("900150983CD24FB0D6963F7D28E17F7"), Stage::kDigest);
    EXPECT_EQ(g_traces.front(),
              "Marvostell!Md5:900150983CD24FB0D6963F7D28E17F72, Server:900150983CD24FB0D6963F7D28E17F72\n");
    EXPECT_EQ(g_traces.size(), 3u);
}

TEST(CheckNewVersion, NullArgumentsDoNotCrash) {
    EXPECT_EQ(CheckNewVersion(nullptr, 0, 0, nullptr, nullptr, nullptr), MARVOSTELL_ERR_BAD_URL);

    marvostell::testing::TestServer server;
    server.file("/update.ini", "[General]\nupdate=p\n[p]\nversion=2\nPackage=/a\nPackageSize=3\n"
                               "Md5=900150983CD24FB0D6963F7D28E17F72\n");
    server.file("/a", "abc");
    const TempDir temp{"core"};
    const std::string dir = temp.path();
    EXPECT_EQ(CheckNewVersion(nullptr, 0, 1, server.url("/update.ini").c_str(), dir.c_str(), nullptr), 1);
}

// A null directory, like an empty one, would put the files in the root
// directory: refused with "path not found" as a local-file error, unasked.
TEST(CheckNewVersion, NullDirectoryIsRefusedBeforeAnyRequest) {
    marvostell::testing::TestServer server;
    server.file("/update.ini", "[General]\n");
    EXPECT_EQ(CheckNewVersion(nullptr, 0, 1, server.url("/update.ini").c_str(), nullptr, nullptr),
              static_cast<int>(0x80000003u));
    EXPECT_TRUE(server.requests().empty());
}

TEST(CheckNewVersion, NoExceptionReachesTheHost) {
    SetTraceCaptureForTesting([](const char *) { throw std::bad_alloc(); });
    const int result = CheckNewVersion(nullptr, 0, 0, "http://127.0.0.1:1/update.ini", "/tmp", nullptr);
    SetTraceCaptureForTesting(nullptr);
    EXPECT_EQ(result, MARVOSTELL_ERR_UNEXPECTED);
}

// The host's buffer gets the path only when it fits with its terminator; a
// verified package whose path does not fit is an error, never an overflow.
TEST(FinishCheck, BoundsThePathByTheBufferSize) {
    CheckOutcome updated;
    updated.updated = true;
    updated.pathForHost = "/d/pkg.bin";  // 10 characters
    CheckOutcome mismatch = updated;
    mismatch.updated = false;
    mismatch.failure = StepResult::Failure(Stage::kDigest, 0);
    const struct {
        const CheckOutcome &outcome;
        size_t size;
        int32_t result;
        const char *written;
    } cases[] = {
        {updated, 11, MARVOSTELL_UPDATED, "/d/pkg.bin"},
        {updated, 10, static_cast<int32_t>(0x80000000u | ERROR_INSUFFICIENT_BUFFER), "#"},
        {mismatch, 11, MARVOSTELL_ERR_DIGEST_MISMATCH, "/d/pkg.bin"},
        {mismatch, 10, MARVOSTELL_ERR_DIGEST_MISMATCH, "#"},
    };
    for (const auto &c : cases) {
        char buffer[16];
        std::fill(std::begin(buffer), std::end(buffer), '#');
        EXPECT_EQ(FinishCheck(c.outcome, buffer, c.size), c.result) << c.size;
        EXPECT_EQ(std::string(buffer, std::strlen(c.written)), c.written) << c.size;
        EXPECT_EQ(buffer[c.size], '#') << "nothing past the buffer";
    }
}
