// The parts of marvostell-check that decide what people read: option errors,
// the stored manifest's problems, the package entry's fault, progress lines
// and the proxy named after an Internet error.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "diagnosis.h"
#include "options.h"
#include "progress.h"
#include "proxy.h"
#include "temp_dir.h"
#include "trace_facts.h"

namespace {

// A file holding text, in a directory removed when the program ends.
std::string TempFile(const std::string &text) {
    static const marvostell::testing::TempDir dir("check");
    static int count = 0;
    const std::string path = dir / ("file" + std::to_string(++count));
    std::ofstream(path, std::ios::binary) << text;
    return path;
}

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

TEST(ParseOptions, NamesEachMistake) {
    struct Case {
        std::vector<const char *> args;
        const char *error;  // nullptr: accepted
    } cases[] = {
        {{"--host-version", "0x10000", "--dir", "/tmp", "http://h/u.ini"}, nullptr},
        {{"-q", "-v", "http://h/u.ini"}, nullptr},
        {{"--version"}, nullptr},
        {{"--help", "--bogus-after-help-is-still-an-error"}, "unknown option '--bogus"},
        {{}, "no manifest URL"},
        {{"--host-version"}, "--host-version needs a value"},
        {{"--host-version", "2.1", "http://h/u.ini"}, "'2.1' is not a number"},
        {{"--dir", "", "http://h/u.ini"}, "--dir needs a directory"},
        {{"--dir", "a", "--dir", "b", "http://h/u.ini"}, "--dir given twice"},
        {{"--frobnicate", "http://h/u.ini"}, "unknown option '--frobnicate'"},
        {{"http://a/u.ini", "http://b/u.ini"}, "more than one URL"},
        // The old spelling of the host version must not silently skip a check.
        {{"--version", "0x10000", "http://h/u.ini"}, "--host-version N"},
    };
    for (const Case &c : cases) {
        std::vector<const char *> argv{"marvostell-check"};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        Options options;
        std::string error;
        const bool ok = ParseOptions(static_cast<int>(argv.size()), argv.data(), options, error);
        if (!c.error) {
            EXPECT_TRUE(ok) << error;
        } else {
            EXPECT_FALSE(ok) << c.error;
            EXPECT_TRUE(Contains(error, c.error)) << error;
        }
    }
    Options options;
    std::string error;
    const char *argv[] = {"x", "--host-version", "0x00010002", "u/x"};
    ASSERT_TRUE(ParseOptions(4, argv, options, error));
    EXPECT_EQ(0x00010002u, options.hostVersion);
}

TEST(ManifestProblems, TellsWhyTheStoredFileIsNoManifest) {
    const std::string good = "[General]\r\nupdate=app\r\n[app]\r\nversion=2\r\n";
    struct Case {
        std::string text;
        const char *problem;  // nullptr: a usable manifest
    } cases[] = {
        {good, nullptr},
        {"", "is empty"},
        {"\r\n<!DOCTYPE html><html><head><title>404 Not Found</title></head></html>",
         "HTML page, not a manifest (its title: \"404 Not Found\")"},
        {"not found\n", "no [General] section; it begins \"not found\""},
        {"[app]\nversion=2\n", "no [General] section"},
        {"[General]\nupdate=\n", "no update list"},
        {"[general]\nUPDATE=app\n", nullptr},
        {good + "; " + std::string(4096 - good.size() - 2, 'x'), "fills the 4096 bytes"},
        {good + "; " + std::string(4000 - good.size(), 'x'), nullptr},
    };
    for (const Case &c : cases) {
        const std::string path = TempFile(c.text);
        const std::vector<std::string> problems = ManifestProblems(path);
        if (!c.problem) {
            EXPECT_TRUE(problems.empty()) << c.text.substr(0, 40) << ": " << problems[0];
        } else {
            ASSERT_EQ(1u, problems.size()) << c.problem;
            EXPECT_TRUE(Contains(problems[0], c.problem)) << problems[0];
        }
        std::remove(path.c_str());
    }
    EXPECT_FALSE(ManifestProblems("/nonexistent/update.ini").empty());
}

TEST(PackageEntryFault, NamesTheKeyTheModuleRefuses) {
    const std::string digest = "0123456789ABCDEF0123456789ABCDEF";
    struct Case {
        std::string entry;
        const char *fault;
    } cases[] = {
        {"PackageSize=0\nMd5=" + digest + "\nPackage=/p/a.bin", "PackageSize=0: not a size"},
        {"PackageSize=134217729\nMd5=" + digest + "\nPackage=/p/a.bin", "PackageSize=134217729"},
        {"Md5=" + digest + "\nPackage=/p/a.bin", "PackageSize is missing or empty"},
        {"PackageSize=10\nMd5=0123\nPackage=/p/a.bin", "Md5=0123: 4 characters"},
        {"PackageSize=10\nPackage=/p/a.bin", "Md5 is missing or empty"},
        {"PackageSize=10\nMd5=" + digest + "\nPackage=/p/CON.txt", "local file name \"CON.txt\""},
        {"PackageSize=10\nMd5=" + digest + "\nPackage=/p/", "local file name \"\""},
    };
    for (const Case &c : cases) {
        const std::string path =
            TempFile("[General]\nupdate=app\n[app]\nversion=2\n" + c.entry + "\n");
        EXPECT_EQ("app", SelectedSection(path, 1));
        const std::string fault = PackageEntryFault(path, "app");
        EXPECT_TRUE(Contains(fault, c.fault)) << fault;
        std::remove(path.c_str());
    }
}

TEST(ProgressDisplay, PipedGivesAPlainLineAtMostEveryTenPercent) {
    char *text = nullptr;
    size_t size = 0;
    std::FILE *out = open_memstream(&text, &size);
    double now = 0;
    {
        ProgressDisplay display(out, false, false, [&] { return now; });
        display.Connecting("127.0.0.1:8080");
        display.StartPackage("app.bin", 1000000, 0);
        for (unsigned percent = 0; percent <= 100; ++percent) {
            now += 0.01;
            display.Percent(percent);
        }
        display.Finish();
    }
    std::fclose(out);
    const std::string shown(text, size);
    std::free(text);
    EXPECT_FALSE(Contains(shown, "\r"));
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = shown.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(shown.substr(at, end - at));
    ASSERT_EQ(12u, lines.size()) << shown;
    EXPECT_EQ("Connecting to 127.0.0.1:8080", lines[0]);
    EXPECT_EQ("Package app.bin: 1000000 bytes", lines[1]);
    EXPECT_EQ("app.bin: 10% (100000 of 1000000 bytes, 887.8 KiB/s)", lines[2]);  // in 0.11 s
    EXPECT_TRUE(Contains(lines[11], "app.bin: 100% (1000000 of 1000000 bytes"));
}

TEST(ProgressDisplay, TerminalRedrawsOneLineWithBytesSpeedAndTimeLeft) {
    char *text = nullptr;
    size_t size = 0;
    std::FILE *out = open_memstream(&text, &size);
    double now = 0;
    {
        ProgressDisplay display(out, true, false, [&] { return now; });
        display.StartPackage("app.bin", 4 << 20, 1 << 20);
        now = 1;
        display.Percent(50);  // 1 MiB more in one second
        display.PrintLine("a trace line");
        display.Finish();
    }
    std::fclose(out);
    const std::string shown(text, size);
    std::free(text);
    EXPECT_TRUE(Contains(shown, "resuming after 1048576 bytes")) << shown;
    EXPECT_TRUE(Contains(shown, "\rapp.bin  2.0 MiB / 4.0 MiB  50%  1.0 MiB/s  0:02 left"))
        << shown;
    // The trace line is printed over a cleared status line, then the status
    // comes back below it.
    EXPECT_TRUE(Contains(shown, "\ra trace line\n\rapp.bin  2.0 MiB")) << shown;
    EXPECT_EQ('\n', shown.back());
}

TEST(ProgressDisplay, QuietShowsNoProgressButKeepsPrintedLines) {
    char *text = nullptr;
    size_t size = 0;
    std::FILE *out = open_memstream(&text, &size);
    {
        ProgressDisplay display(out, true, true, [] { return 0.0; });
        display.Connecting("h:80");
        display.StartPackage("app.bin", 100, 0);
        display.Percent(100);
        display.PrintLine("Marvostell!Server h, File /u.ini");
        display.Finish();
    }
    std::fclose(out);
    EXPECT_EQ("Marvostell!Server h, File /u.ini\n", std::string(text, size));
    std::free(text);
}

TEST(TraceFacts, ReadsTheModulesTraceLines) {
    std::string server;
    ASSERT_TRUE(ParseServerTrace("Marvostell!Server h:8080, File /a, File /b\n", server));
    EXPECT_EQ("h:8080", server);
    DownloadFacts facts;
    // An arrow inside the server's path does not split the two paths.
    ASSERT_TRUE(ParseDownloadTrace("Marvostell!Download(/a->b/c.bin->/tmp/d/c.bin, size 42)...\n",
                                   "/tmp/d/", facts));
    EXPECT_EQ("/a->b/c.bin", facts.serverPath);
    EXPECT_EQ("/tmp/d/c.bin", facts.localPath);
    EXPECT_EQ(42u, facts.size);
    std::string actual, expected;
    ASSERT_TRUE(ParseDigestTrace("Marvostell!Md5:ABC, Server:abc\n", actual, expected));
    EXPECT_EQ("ABC", actual);
    EXPECT_EQ("abc", expected);
    EXPECT_FALSE(ParseServerTrace("marvostell!check package: a\n", server));
}

TEST(DescribeProxy, FollowsLibcurlsEnvironmentRules) {
    struct Case {
        std::map<std::string, std::string> env;
        const char *says;
    } cases[] = {
        {{}, "proxy: none"},
        {{{"http_proxy", "http://p:3128"}}, "proxy: http://p:3128 (from the environment variable "
                                            "http_proxy)"},
        // libcurl reads http_proxy in lower case only.
        {{{"HTTP_PROXY", "http://p:3128"}}, "proxy: none"},
        {{{"ALL_PROXY", "socks5://s:1080"}}, "socks5://s:1080 (from the environment variable "
                                             "ALL_PROXY)"},
        {{{"http_proxy", "p:1"}, {"no_proxy", "other, .example.org"}}, "exempts updates.example.org"},
        {{{"http_proxy", "p:1"}, {"NO_PROXY", "*"}}, "exempts"},
        {{{"http_proxy", "p:1"}, {"no_proxy", "ample.org"}}, "proxy: p:1"},
    };
    for (const Case &c : cases) {
        const auto lines = DescribeProxyFrom("updates.example.org", [&](const char *name) {
            const auto found = c.env.find(name);
            return found == c.env.end() ? nullptr : found->second.c_str();
        });
        ASSERT_EQ(1u, lines.size());
        EXPECT_TRUE(Contains(lines[0], c.says)) << lines[0];
    }
}
