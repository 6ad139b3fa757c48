// The parts of marvostell-check that decide what people read: option errors,
// the stored manifest's problems, the package entry's fault, the diagnosis
// from the check's events, progress lines and the proxy named after an
// Internet error; and the argument splitter both tools share.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "arguments.h"
#include "call_record.h"
#include "diagnosis.h"
#include "json_report.h"
#include "marvostell.h"
#include "options.h"
#include "progress.h"
#include "proxy.h"
#include "temp_dir.h"

using marvostell::PackageEvent;
using marvostell::Stage;

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
        {{"--host-version", "0x1FFFFFFFF", "http://h/u.ini"}, "'0x1FFFFFFFF' is not a number from 0 to"},
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
        // The local name is what follows the last "/" only.
        {"PackageSize=10\nMd5=" + digest + "\nPackage=/p/a\\update.ini", "name \"a\\update.ini\""},
        {"PackageSize=10\nMd5=" + digest + "\nPackage=/p/a.bin", "read as usable now"},
    };
    for (const Case &c : cases) {
        const std::string path =
            TempFile("[General]\nupdate=app\n[app]\nversion=2\n" + c.entry + "\n");
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
    // No speed in the first second: a few buffered pieces are no rate.
    EXPECT_EQ("app.bin: 10% (100000 of 1000000 bytes)", lines[2]);  // in 0.11 s
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

namespace {

// A record made the way the tool makes it: from the check's package events.
CallRecord Recorded(const std::vector<PackageEvent> &events) {
    CallRecord record;
    record.server = "127.0.0.1:8080";
    record.object = "/u.ini";
    CallRecorder recorder(record);
    for (const PackageEvent &e : events) recorder.OnPackageEvent(e);
    return record;
}

PackageEvent Entry(const std::string &localPath) {
    static std::string kept;  // the event's texts outlive it, as the core's do
    kept = localPath;
    PackageEvent e{PackageEvent::kEntry};
    e.section = "app";
    e.path = "/pkg/app.bin";
    e.localPath = kept.c_str();
    e.size = 100;
    return e;
}

PackageEvent Request() { return {PackageEvent::kRequest}; }

PackageEvent Answer(uint32_t status) {
    PackageEvent e{PackageEvent::kAnswer};
    e.status = status;
    return e;
}

PackageEvent Digest(const char *computed, const char *expected) {
    PackageEvent e{PackageEvent::kDigest};
    e.computed = computed;
    e.expected = expected;
    e.passed = std::string(computed) == expected;
    return e;
}

PackageEvent MovedAside(const std::string &to) {
    static std::string kept;
    kept = to;
    PackageEvent e{PackageEvent::kMovedAside};
    e.movedTo = kept.c_str();
    return e;
}

std::string Joined(const Diagnosis &d) {
    std::string text = d.headline + "\n";
    for (const std::string &line : d.lines) text += line + "\n";
    return text;
}

marvostell::CheckOutcome Failed(Stage stage, uint32_t code = 0) {
    marvostell::CheckOutcome outcome;
    outcome.failure = marvostell::StepResult::Failure(stage, code);
    return outcome;
}

}  // namespace

TEST(Diagnose, DigestMismatchFromTheEventsAndTheRejectedFile) {
    const char *upper = "0123456789ABCDEF0123456789ABCDEF";
    const char *lower = "0123456789abcdef0123456789abcdef";
    const char *other = "FEDCBA9876543210FEDCBA9876543210";
    struct Case {
        size_t fileSize;  // of the file moved aside
        const char *expected;
        uint32_t status;  // the package answer's
        const char *says;
    } cases[] = {
        {150, other, 200, "longer than PackageSize"},
        {60, other, 206, "shorter than PackageSize: the transfer ended early"},
        {100, lower, 200, "differ only in case"},
        {100, other, 200, "declared size but other bytes"},
        // CheckNewVersion's rules save an error page as the package.
        {60, other, 404, "answered the package request with HTTP status 404 (path /pkg/app.bin)"},
        {150, other, 500, "HTTP status 500"},
    };
    for (const Case &c : cases) {
        const std::string local = TempFile("");
        const std::string rejected = TempFile(std::string(c.fileSize, 'x'));
        const CallRecord record = Recorded({Entry(local), Request(), Answer(c.status),
                                            Digest(upper, c.expected), MovedAside(rejected)});
        const std::string text = Joined(Diagnose(MARVOSTELL_ERR_DIGEST_MISMATCH,
                                                 Failed(Stage::kDigest), record));
        EXPECT_TRUE(Contains(text, "package: [app] Package=/pkg/app.bin")) << text;
        EXPECT_TRUE(Contains(text, std::string("expected MD5 (Md5): ") + c.expected)) << text;
        EXPECT_TRUE(Contains(text, std::string("actual MD5:         ") + upper)) << text;
        EXPECT_TRUE(Contains(text, "rejected file:      " + rejected + "\n")) << text;
        EXPECT_TRUE(Contains(text, c.says)) << text;
        if (c.status >= 400) {  // the status, not the size, is the reason
            EXPECT_FALSE(Contains(text, "ended early") || Contains(text, "longer than")) << text;
        }
    }
    // No kMovedAside: the rename failed and the file is still where it was.
    const std::string local = TempFile(std::string(100, 'x'));
    const std::string text = Joined(Diagnose(MARVOSTELL_ERR_DIGEST_MISMATCH, Failed(Stage::kDigest),
                                             Recorded({Entry(local), Request(), Digest(upper, other)})));
    EXPECT_TRUE(Contains(text, "rejected file:      " + local + " (not moved aside")) << text;
}

TEST(Diagnose, TellsTheStepFromTheEventsNotFromTheResult) {
    const int local = MARVOSTELL_LOCAL_FILE_FLAG;
    const char *digest = "0123456789ABCDEF0123456789ABCDEF";
    marvostell::CheckOutcome updated;
    updated.updated = true;
    updated.pathForHost = "/d/app.bin";
    struct Case {
        const char *name;
        std::vector<PackageEvent> events;
        int result;
        marvostell::CheckOutcome outcome;
        const char *says;
        int exitStatus;
    } cases[] = {
        {"complete on disk", {Entry("/d/app.bin"), Digest(digest, digest)}, 1, updated,
         "(already complete on disk: no bytes were fetched)", 1},
        {"fetched", {Entry("/d/app.bin"), Request(), Digest(digest, digest)}, 1, updated,
         "downloaded and verified: /d/app.bin\n", 1},
        {"package request", {Entry("/d/app.bin"), Request()}, local | 12029,
         Failed(Stage::kPackageRequest, 12029),
         "package request to host 127.0.0.1, port 8080, path /pkg/app.bin", 9},
        {"manifest request", {}, 12029, Failed(Stage::kManifestRequest, 12029),
         "manifest request to host 127.0.0.1, port 8080, path /u.ini", 9},
        // An Internet error's number from writing the file is still a file error.
        {"package file", {Entry("/d/app.bin"), Request()}, local | 12029,
         Failed(Stage::kPackageFile, 12029), "local file error", 8},
    };
    for (const Case &c : cases) {
        const Diagnosis diagnosis = Diagnose(c.result, c.outcome, Recorded(c.events));
        EXPECT_EQ(c.exitStatus, diagnosis.exitStatus) << c.name;
        EXPECT_TRUE(Contains(Joined(diagnosis), c.says)) << c.name << ": " << Joined(diagnosis);
    }
}

// The module's number rule for options, without its saturation: a number
// that does not fit in 32 bits is refused, whatever its base or sign.
TEST(ParseWholeNumber, TakesThirtyTwoBitsOnly) {
    struct Case {
        const char *text;
        bool ok;
        uint32_t value;
    } cases[] = {
        {"0", true, 0},
        {"4294967295", true, 0xFFFFFFFFu},
        {"0xFFFFFFFF", true, 0xFFFFFFFFu},
        {"037777777777", true, 0xFFFFFFFFu},
        {" 0x10000", true, 0x10000u},
        {"-1", true, 0xFFFFFFFFu},  // the module's rule: negated modulo 2^32
        {"4294967296", false, 0},
        {"0x100000000", false, 0},
        {"0x1FFFFFFFF", false, 0},
        {"040000000000", false, 0},
        {"-4294967296", false, 0},
        {"99999999999999999999999", false, 0},
        {"0x00000000FFFFFFFF", true, 0xFFFFFFFFu},
        {"", false, 0},
        {"2.1", false, 0},
        {"0x", false, 0},
    };
    for (const Case &c : cases) {
        uint32_t value = 12345;
        EXPECT_EQ(c.ok, marvostell::tools::ParseWholeNumber(c.text, value)) << c.text;
        if (c.ok) {
            EXPECT_EQ(c.value, value) << c.text;
        }
    }
}

TEST(SplitArguments, KeepsOrderAndStopsAtTheFirstFault) {
    using marvostell::tools::ArgumentFault;
    const marvostell::tools::ArgumentRules rules{
        {"--path"}, {"--json"}, {{"-j", "--json"}}, true, true};
    struct Case {
        std::vector<std::string> args;
        ArgumentFault::Kind fault;
        const char *option;    // the option at fault
        const char *arguments;  // what came before it, as name=value or the operand
    } cases[] = {
        {{"a", "--path", "/x", "-j", "-"}, ArgumentFault::kNone, "", "a --path=/x --json= -"},
        {{"--path=/x=y", "--", "--json"}, ArgumentFault::kNone, "", "--path=/x=y --json"},
        {{"a", "--json=1"}, ArgumentFault::kUnknown, "--json", "a"},
        {{"--frob=1", "a"}, ArgumentFault::kUnknown, "--frob", ""},
        {{"--json", "--path"}, ArgumentFault::kNoValue, "--path", "--json="},
    };
    for (const Case &c : cases) {
        std::vector<marvostell::tools::Argument> out;
        const ArgumentFault fault = SplitArguments(c.args, rules, out);
        std::string seen;
        for (const auto &a : out)
            seen += (seen.empty() ? "" : " ") + (a.IsOperand() ? a.value : a.name + "=" + a.value);
        EXPECT_EQ(c.fault, fault.kind) << c.arguments;
        EXPECT_EQ(c.option, fault.option);
        EXPECT_EQ(c.arguments, seen);
    }
}

TEST(DescribeProxy, FollowsLibcurlsEnvironmentRules) {
    struct Case {
        std::map<std::string, std::string> env;
        const char *says;
    } cases[] = {
        {{}, "proxy: none"},
        {{{"http_proxy", "http://p:3128"}}, "proxy: http://p:3128 (from the environment variable "
                                            "http_proxy)"},
        // libcurl reads http_proxy in lower case only: the other is named.
        {{{"HTTP_PROXY", "http://p:3128"}}, "proxy: none: HTTP_PROXY=http://p:3128 is set, but "
                                            "ignored as libcurl ignores it"},
        {{{"ALL_PROXY", "socks5://s:1080"}}, "socks5://s:1080 (from the environment variable "
                                             "ALL_PROXY)"},
        {{{"http_proxy", "p:1"}, {"no_proxy", "other, .example.org"}}, "exempts updates.example.org"},
        {{{"http_proxy", "p:1"}, {"NO_PROXY", "*"}}, "exempts"},
        {{{"http_proxy", "p:1"}, {"no_proxy", "ample.org"}}, "proxy: p:1"},
        {{{"HTTP_PROXY", "u:1"}, {"all_proxy", "a:2"}}, "proxy: a:2 (from"},
    };
    for (const Case &c : cases) {
        const auto lines = DescribeProxyFrom("updates.example.org", [&](const char *name) {
            const auto found = c.env.find(name);
            return found == c.env.end() ? nullptr : found->second.c_str();
        });
        ASSERT_EQ(1u, lines.size());
        EXPECT_TRUE(Contains(lines[0], c.says)) << lines[0];
        // The proxy --json names agrees with the line.
        const std::string used = ProxyInUseFrom("updates.example.org", [&](const char *name) {
            const auto found = c.env.find(name);
            return found == c.env.end() ? nullptr : found->second.c_str();
        });
        EXPECT_EQ(used.empty(), Contains(lines[0], "proxy: none")) << lines[0];
        if (!used.empty()) {
            EXPECT_TRUE(Contains(lines[0], "proxy: " + used + " (")) << lines[0];
        }
    }
}

TEST(FitStatus, DropsTimeSpeedAndBytesThenShortensTheName) {
    const StatusParts parts{"sample-2.0.bin", "2.0 MiB / 4.0 MiB", "50%", "1.0 MiB/s", "0:02 left"};
    const struct {
        size_t width;
        const char *line;
    } cases[] = {
        {0, "sample-2.0.bin  2.0 MiB / 4.0 MiB  50%  1.0 MiB/s  0:02 left"},
        {80, "sample-2.0.bin  2.0 MiB / 4.0 MiB  50%  1.0 MiB/s  0:02 left"},
        {61, "sample-2.0.bin  2.0 MiB / 4.0 MiB  50%  1.0 MiB/s  0:02 left"},  // 60 wide
        {60, "sample-2.0.bin  2.0 MiB / 4.0 MiB  50%  1.0 MiB/s"},  // never the last column
        {45, "sample-2.0.bin  2.0 MiB / 4.0 MiB  50%"},
        {38, "sample-2.0.bin  50%"},
        {15, "sample...  50%"},
        {8, "in  50%"},
        {3, "0%"},
        {1, ""},
    };
    for (const auto &c : cases) {
        const std::string line = FitStatus(parts, c.width);
        EXPECT_EQ(c.line, line) << c.width;
        if (c.width) {
            EXPECT_LT(line.size(), c.width) << c.width;
        }
    }
}

TEST(ShownRate, NoneInTheFirstSecondThenTheAverage) {
    const struct {
        uint64_t done, start;
        double elapsed, rate;
    } cases[] = {
        {1 << 30, 0, 0.05, 0},  // would read 20 GiB/s
        {1 << 20, 0, 0.999, 0},
        {1 << 20, 0, 1, 1 << 20},
        {3 << 20, 1 << 20, 2, 1 << 20},  // resumed: only this run's bytes count
        {1 << 20, 1 << 20, 5, 0},
    };
    for (const auto &c : cases)
        EXPECT_DOUBLE_EQ(c.rate, ShownRate(c.done, c.start, c.elapsed)) << c.done << " " << c.elapsed;
}

TEST(ProgressDisplay, TerminalLineStaysWithinTheWidth) {
    char *text = nullptr;
    size_t size = 0;
    std::FILE *out = open_memstream(&text, &size);
    double now = 0;
    {
        ProgressDisplay display(out, true, false, [&] { return now; });
        display.SetWidth([] { return size_t{40}; });
        display.Connecting("a-very-long-host-name.example.org:8080");
        display.StartPackage("app.bin", 4 << 20, 0);
        for (unsigned percent = 1; percent <= 100; ++percent) {
            now += 0.1;
            display.Percent(percent);
        }
        display.Finish();
    }
    std::fclose(out);
    const std::string shown(text, size);
    std::free(text);
    // Every redraw between two carriage returns or line ends fits 39 columns.
    for (size_t at = 0, end; at < shown.size(); at = end + 1) {
        end = shown.find_first_of("\r\n", at);
        if (end == std::string::npos) end = shown.size();
        const std::string piece = shown.substr(at, end - at);
        if (piece.compare(0, 8, "Package ") == 0) continue;  // a permanent line may wrap
        EXPECT_LT(piece.size(), 40u) << piece;
    }
    EXPECT_TRUE(Contains(shown, "\rapp.bin  4.0 MiB / 4.0 MiB  100%")) << shown;
}

TEST(JsonReport, NamesEachFieldAndNullsWhatTheCheckDidNotReach) {
    // A digest mismatch under CheckNewVersionEx's rules, with keys given.
    marvostell::CheckOutcome outcome = Failed(Stage::kDigest);
    outcome.localManifest = "/d/update.ini";
    outcome.selected = true;
    outcome.section = "app";
    outcome.version = 0x20000;
    outcome.packageSize = 100;
    PackageEvent digest = Digest("AA", "BB");
    digest.computedSha256 = "cc";
    digest.expectedSha256 = "dd";
    PackageEvent end{PackageEvent::kTransferEnd};
    end.received = 60;
    PackageEvent request{PackageEvent::kRequest};
    request.from = 40;
    CallRecord record = Recorded({Entry("/d/app.bin"), request, Answer(206), end, digest,
                                  MovedAside("/d/app.bin.err")});
    record.manifestStatus = 200;
    JsonFacts facts;
    facts.result = MARVOSTELL_ERR_DIGEST_MISMATCH;
    facts.exitStatus = 6;
    facts.message = "error 6: \"x\"\n";
    facts.elapsedSeconds = 1.25;
    EXPECT_EQ("{\"result\":6,\"result_name\":\"MARVOSTELL_ERR_DIGEST_MISMATCH\",\"exit_status\":6,"
              "\"message\":\"error 6: \\\"x\\\"\\u000a\",\"manifest_status\":200,\"reason\":null,\"rollouts\":[],"
              "\"package\":{\"section\":\"app\",\"version\":\"0x00020000\",\"size\":100,"
              "\"staged\":false,\"display_version\":null,\"notes_url\":null,\"critical\":false},"
              "\"delta\":null,\"delta_fell_back\":null,\"package_status\":206,\"range_start\":40,\"bytes_received\":60,"
              "\"digests\":{\"expected_md5\":\"BB\",\"computed_md5\":\"AA\","
              "\"expected_sha256\":\"dd\",\"computed_sha256\":\"cc\"},"
              "\"err_path\":\"/d/app.bin.err\",\"elapsed_seconds\":1.250,\"proxy\":null}",
              JsonReport(facts, outcome, record));

    // Nothing selected or fetched: those fields are null; the manifest's
    // status is the one its answer carried, null when none came.
    const struct {
        marvostell::CheckOutcome outcome;
        uint32_t answered;
        const char *status;
    } manifests[] = {
        {Failed(Stage::kManifestRequest, 404), 404, "\"manifest_status\":404,"},
        {Failed(Stage::kManifestRequest, 407), 407, "\"manifest_status\":407,"},
        {Failed(Stage::kManifestRequest, 12029), 0, "\"manifest_status\":null,"},
        {marvostell::CheckOutcome{}, 404, "\"manifest_status\":404,"},
    };
    for (const auto &m : manifests) {
        JsonFacts f;
        f.proxy = "http://p:3128";
        CallRecord answered;
        answered.manifestStatus = m.answered;
        const std::string json = JsonReport(f, m.outcome, answered);
        EXPECT_TRUE(Contains(json, m.status)) << json;
        EXPECT_TRUE(Contains(json, "\"package\":null,\"delta\":null,\"delta_fell_back\":null,\"package_status\":null,\"range_start\":null,"
                                   "\"bytes_received\":null,\"digests\":null,\"err_path\":null"))
            << json;
        EXPECT_TRUE(Contains(json, "\"proxy\":\"http://p:3128\"}")) << json;
    }
}

TEST(ResultName, ByTheHeaderOrTheStepThatFailed) {
    const struct {
        int result;
        Stage stage;
        const char *name;
    } cases[] = {
        {MARVOSTELL_UP_TO_DATE, Stage::kNone, "MARVOSTELL_UP_TO_DATE"},
        {MARVOSTELL_UPDATED, Stage::kNone, "MARVOSTELL_UPDATED"},
        {MARVOSTELL_CANCELLED, Stage::kStopped, "MARVOSTELL_CANCELLED"},
        {404, Stage::kManifestRequest, "HTTP_STATUS"},
        {static_cast<int>(0x80000000u | 403), Stage::kPackageRequest, "HTTP_STATUS"},
        {12029, Stage::kManifestRequest, "ERROR_INTERNET_CANNOT_CONNECT"},
        {static_cast<int>(0x80000000u | 5), Stage::kPackageFile, "LOCAL_FILE_ERROR"},
        {87, Stage::kArgument, "ARGUMENT_ERROR"},
    };
    for (const auto &c : cases) EXPECT_EQ(c.name, ResultName(c.result, c.stage)) << c.result;
}

// A transfer cut short names the file it left: the package, or the patch or
// packed file fetched instead, unless that gave way to the whole package.
TEST(Diagnose, PartialFileIsTheOneBeingFetched) {
    const struct {
        const char *base;      // the patch's earlier package; null: no delta, "": packed
        bool fellBack;
        const char *says;
    } cases[] = {
        {nullptr, false, "partial package: PACKAGE, 30 of 100 bytes"},
        {"app-1.bin", false, "partial patch: DELTA, 20 of 40 bytes"},
        {"", false, "partial packed package: DELTA, 20 of 40 bytes"},
        {"app-1.bin", true, "partial package: PACKAGE, 30 of 100 bytes"},
    };
    for (const auto &c : cases) {
        const std::string package = TempFile(std::string(30, 'p')), delta = TempFile(std::string(20, 'd'));
        std::vector<PackageEvent> events{Entry(package)};
        PackageEvent fetched{PackageEvent::kDelta}, fellBack{PackageEvent::kDeltaFellBack};
        fetched.localPath = delta.c_str();
        fetched.movedTo = c.base ? c.base : "";
        fetched.size = 40;
        fellBack.expected = "its size or SHA-256 does not match";
        if (c.base) events.push_back(fetched);
        if (c.fellBack) events.push_back(fellBack);
        std::string text = Joined(Diagnose(static_cast<int>(0x80002EFEu),
                                           Failed(Stage::kPackageRequest, 0x80002EFEu), Recorded(events)));
        for (auto [name, path] : {std::pair{"PACKAGE", package}, std::pair{"DELTA", delta}})
            for (size_t at; (at = text.find(path)) != std::string::npos;) text.replace(at, path.size(), name);
        EXPECT_TRUE(Contains(text, c.says)) << text;
    }
}
