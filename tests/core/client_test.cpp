// The client's operations that the export does not show on their own: the URL
// split, the trace texts, the package entry's encoding helpers, and the
// export's boundary.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <vector>

#include "entry/trace.h"
#include "entry/update_client.h"
#include "marvostell.h"
#include "package/hex.h"
#include "platform/posix/system_calls.h"
#include "temp_dir.h"
#include "test_server.h"

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
        CUpdateClient client;
        EXPECT_EQ(client.ParseServerUrl(c.url), c.result) << c.url;
        if (c.result) {
            EXPECT_EQ(client.m_strServer, c.server) << c.url;
            EXPECT_EQ(client.m_strObject, c.object) << c.url;
        } else {
            EXPECT_EQ(client.GetErrorCode(), kErrorBadUrl) << c.url;
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

TEST(FetchManifest, TracesTheFailingCallAndStoresItsCode) {
    TraceCaptured traces;
    CUpdateClient client;
    const TempDir temp{"core"};
    const std::string dir = temp.path();
    EXPECT_EQ(client.PrepareManifest("http://nonexistent.invalid/update.ini", (dir + "///").c_str()), 0);
    EXPECT_EQ(client.GetErrorCode(), 12007);
    EXPECT_EQ(client.m_strLocalDir, dir);
    EXPECT_TRUE(client.m_strLocalIni.empty());
    EXPECT_EQ(client.m_bManifestFetched, 0);
    const std::vector<std::string> expected = {
        "Marvostell!Server nonexistent.invalid, File /update.ini\n",
        "HttpSendRequest failed with error 0x2ee7\n",
        "Exception 4\n",
    };
    EXPECT_EQ(g_traces, expected);
}

// The write of the manifest copy, then the cut after it, fail: each is a
// local-file failure with its code, and no old bytes are left to read as a
// manifest.
TEST(FetchManifest, ReportsAManifestThatCannotBeWritten) {
    namespace sys = marvostell::posix;
    marvostell::testing::TestServer server;
    server.file("/update.ini", std::string(3000, 'm'));
    const TempDir temp{"core"};
    const std::string dir = temp.path(), path = dir + "/update.ini";
    const std::string address = "127.0.0.1:" + std::to_string(server.port());
    const struct {
        sys::SystemCall call;
        int err;
        uint32_t code;
        std::string kept;
    } cases[] = {
        {sys::SystemCall::Write, ENOSPC, 0x80000000u | 112, ""},
        {sys::SystemCall::Ftruncate, EIO, 0x80000000u | 1117, std::string(3000, 'm')},
    };
    for (const auto &c : cases) {
        std::ofstream(path) << std::string(2000, 'x');
        CUpdateClient client;
        sys::FailSystemCall(c.call, 1, c.err);
        const int result = client.FetchManifest(address.c_str(), "/update.ini", path.c_str());
        sys::RestoreSystemCalls();
        EXPECT_EQ(result, 0);
        EXPECT_EQ(static_cast<uint32_t>(client.GetErrorCode()), c.code);
        std::ifstream in(path, std::ios::binary);
        const std::string kept((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        EXPECT_EQ(kept, c.kept);
    }
}

TEST(FindNewPackage, TracesTheWalk) {
    TraceCaptured traces;
    const TempDir temp{"core"};
    const std::string dir = temp.path();
    std::ofstream(dir + "/update.ini") << "[General]\nupdate=old,,new\n[old]\nversion=1\n"
                                          "[new]\nversion=0x20\nUnsupport=u x\nSupport=s,y\n";
    CUpdateClient client;
    EXPECT_EQ(client.FindNewPackage(5, 0), 0) << "refused before the manifest is fetched";
    client.m_strLocalIni = dir + "/update.ini";
    client.m_bManifestFetched = 1;
    ASSERT_EQ(client.FindNewPackage(5, 0), 1);
    EXPECT_EQ(client.m_strPackageSection, "new");
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
    EXPECT_EQ(client.FindNewPackage(5, 0), 0);
    EXPECT_EQ(g_traces, std::vector<std::string>{"marvostell!update null\n"});
}

TEST(HexEncode, WritesUpperCaseDigitsWithinCapacity) {
    const uint8_t bytes[] = {0x00, 0x9F, 0xA0, 0xFF};
    char out[10];
    std::fill(std::begin(out), std::end(out), '#');
    EXPECT_EQ(HexEncode(bytes, 4, out, 8), 1);
    EXPECT_EQ(std::string(out, 10), "009FA0FF##");

    std::fill(std::begin(out), std::end(out), '#');
    EXPECT_EQ(HexEncode(bytes, 4, out, 7), 0);
    EXPECT_EQ(HexEncode(nullptr, 4, out, 8), 0);
    EXPECT_EQ(HexEncode(bytes, 4, nullptr, 8), 0);
    EXPECT_EQ(HexEncode(bytes, 0x80000001u, out, 2), 0) << "2 x count must not wrap";
    EXPECT_EQ(HexEncode(bytes, 0, out, 0), 1);
    EXPECT_EQ(std::string(out, 10), std::string(10, '#'));
}

TEST(VerifyMd5, ComparesExactlyAndTraces) {
    TraceCaptured traces;
    const TempDir temp{"core"};
    const std::string dir = temp.path();
    std::ofstream(dir + "/abc") << "abc";
    CUpdateClient client;
    EXPECT_EQ(client.VerifyMd5((dir + "/abc").c_str(), "900150983CD24FB0D6963F7D28E17F72"), 1);
    EXPECT_EQ(client.VerifyMd5((dir + "/abc").c_str(), "900150983cd24fb0d6963f7d28e17f72"), 0);
    EXPECT_EQ(client.VerifyMd5((dir + "/abc").c_str(), "900150983CD24FB0D6963F7D28E17F7"), 0);
    EXPECT_EQ(client.VerifyMd5((dir + "/missing").c_str(), "900150983CD24FB0D6963F7D28E17F72"), 0);
    EXPECT_EQ(g_traces.front(),
              "Marvostell!Md5:900150983CD24FB0D6963F7D28E17F72, Server:900150983CD24FB0D6963F7D28E17F72\n");
    EXPECT_EQ(g_traces.size(), 3u) << "no trace for a file that cannot be opened";
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
