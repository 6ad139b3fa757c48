// The whole check through the export, scenario by scenario from the files
// under data/. The same scenarios run against the Linux library and against
// each DLL under Wine, so every target gives the same outcome for the same
// server and manifest.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <ostream>
#include <set>
#include <sstream>

#include "marvostell.h"
#include "scenario_data.h"

using namespace marvostell::testing;

namespace {

Target g_target;

// The data files in the order CMake lists them (MARVOSTELL_SCENARIO_FILES,
// separated by commas): definitions carry over from one file to the next.
std::vector<std::string> DataFiles() {
    std::vector<std::string> files;
    std::istringstream list(MARVOSTELL_SCENARIO_FILES);
    for (std::string file; std::getline(list, file, ',');) files.push_back(file);
    return files;
}

std::vector<Scenario> AllScenarios() {
    std::vector<Scenario> scenarios;
    std::string error;
    if (!LoadScenarios(MARVOSTELL_SCENARIO_DATA, DataFiles(), &scenarios, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(2);
    }
    return scenarios;
}

class ScenarioTest : public ::testing::TestWithParam<Scenario> {};

// The scenario's routes on `to`; "{server}" and "{http}" in their header lines
// stand for the servers of a TLS scenario.
void Serve(const ServerScript &script, TestServer &to, const TestServer &server,
           const TestServer &http) {
    const std::pair<std::string, std::string> names[] = {
        {"{server}", "localhost:" + std::to_string(server.port())},
        {"{http}", "localhost:" + std::to_string(http.port())}};
    for (auto [path, response] : script.routes()) {
        for (std::string &line : response.headers)
            for (const auto &[name, value] : names)
                for (size_t at; (at = line.find(name)) != std::string::npos;) line.replace(at, name.size(), value);
        to.route(path, response);
    }
}

TEST_P(ScenarioTest, GivesTheExpectedOutcome) {
    const Scenario &s = GetParam();
    // A TLS scenario has a plain server beside it that answers the same routes.
    std::unique_ptr<TestServer> owned, http;
    if (s.check.tls) {
        owned = std::make_unique<TestServer>(ScenarioCertificates().trusted);
        http = std::make_unique<TestServer>();
        Serve(s.server, *owned, *owned, *http);
        Serve(s.server, *http, *owned, *http);
    } else {
        owned = std::make_unique<TestServer>();
        s.server.ApplyTo(*owned);
    }
    TestServer &server = *owned;
    if (s.check.url.find("{server6}") != std::string::npos && !server.ipv6())
        GTEST_SKIP() << "no IPv6 loopback here";
    const bool wine = g_target.name != "native";
    if (wine && !s.check.nativeOnly.empty()) GTEST_SKIP() << "not under Wine: " << s.check.nativeOnly;
    const Outcome &expected = wine && s.wine ? *s.wine : s.expected;

    const Outcome got = RunCheck(g_target, server, s.check, http.get());
    if (s.check.fileSizeLimit && wine) {
        // Wine reports a write past the limit as ERROR_GEN_FAILURE (31) where
        // Windows reports ERROR_DISK_FULL; both are local-file failures.
        EXPECT_NE(static_cast<uint32_t>(got.result) & 0x80000000u, 0u) << got.result;
    } else {
        EXPECT_EQ(got.result, expected.result);
    }
    EXPECT_EQ(got.path, expected.path);
    EXPECT_EQ(got.files, expected.files);
    EXPECT_EQ(got.progress, expected.progress);
    EXPECT_EQ(got.requests, expected.requests);
    if (s.raw) {
        EXPECT_EQ(got.rawRequests, expected.rawRequests);
    }
    EXPECT_EQ(got.offer, expected.offer);
    EXPECT_EQ(got.offerMore, expected.offerMore);
    if (expected.offerDownload >= 0) {
        EXPECT_EQ(got.offerDownload, expected.offerDownload);
    }
    EXPECT_FALSE(got.overrun) << "bytes written past the path buffer or the offer";
    if (expected.elapsedMaxMs >= 0) {
        EXPECT_GE(got.elapsedMs, expected.elapsedMinMs);
        EXPECT_LE(got.elapsedMs, expected.elapsedMaxMs);
    }
}

INSTANTIATE_TEST_SUITE_P(All, ScenarioTest, ::testing::ValuesIn(AllScenarios()),
                         [](const ::testing::TestParamInfo<Scenario> &info) { return info.param.name; });

}  // namespace

namespace marvostell::testing {
void PrintTo(const Scenario &scenario, std::ostream *out) { *out << scenario.name; }
const Target &CurrentTarget() { return g_target; }
}  // namespace marvostell::testing

namespace {

// --expect-scenarios=FILE: the names CMake found in the data files, one a
// line, each registered as a CTest test of its own. 0 when they are the
// scenarios the data defines, else 1 with the difference.
int CompareWithRegistered(const std::string &file) {
    std::ifstream in(file);
    if (!in) return std::fprintf(stderr, "cannot read %s\n", file.c_str()), 2;
    std::set<std::string> registered, loaded;
    for (std::string name; std::getline(in, name);)
        if (!name.empty()) registered.insert(name);
    for (const Scenario &s : AllScenarios()) loaded.insert(s.name);
    int differ = 0;
    for (const std::string &name : loaded)
        if (!registered.count(name))
            ++differ, std::fprintf(stderr, "scenario %s has no CTest test: start it with a line "
                                           "\"scenario %s\" of its own\n", name.c_str(), name.c_str());
    for (const std::string &name : registered)
        if (!loaded.count(name)) ++differ, std::fprintf(stderr, "no scenario %s in the data\n", name.c_str());
    if (!differ) std::printf("%zu scenarios, each a CTest test\n", loaded.size());
    return differ ? 1 : 0;
}

}  // namespace

// --target=native|win32|win64, with --host=EXE and --dll=DLL for the Wine
// targets; --scenario=NAME runs that scenario alone (CTest's
// scenario.<target>.<NAME>), failing when the data has no such scenario.
int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    std::string scenario;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--target=", 0) == 0) g_target.name = arg.substr(9);
        else if (arg.rfind("--host=", 0) == 0) g_target.host = arg.substr(7);
        else if (arg.rfind("--dll=", 0) == 0) g_target.dll = arg.substr(6);
        else if (arg.rfind("--scenario=", 0) == 0) scenario = arg.substr(11);
        else if (arg.rfind("--expect-scenarios=", 0) == 0) return CompareWithRegistered(arg.substr(19));
    }
    if (g_target.name == "native") {
        // The native target is the shipped library, not the static core this
        // program links for MD5.
        Dl_info info{};
        if (!dladdr(reinterpret_cast<void *>(&CheckNewVersion), &info) || !info.dli_fname ||
            std::string(info.dli_fname).find("libmarvostell") == std::string::npos) {
            std::fprintf(stderr, "CheckNewVersion does not come from libmarvostell (%s)\n",
                         info.dli_fname ? info.dli_fname : "?");
            return 2;
        }
    }
    if (!scenario.empty()) {
        // Among the tests registered from the data (reading it again would
        // double the start-up time that each scenario's run pays).
        const std::string suite = "All/ScenarioTest", test = "GivesTheExpectedOutcome/" + scenario;
        const ::testing::UnitTest &unit = *::testing::UnitTest::GetInstance();
        bool known = false;
        for (int i = 0; i < unit.total_test_suite_count(); ++i) {
            const ::testing::TestSuite &s = *unit.GetTestSuite(i);
            for (int j = 0; s.name() == suite && j < s.total_test_count(); ++j)
                known = known || s.GetTestInfo(j)->name() == test;
        }
        if (!known) return std::fprintf(stderr, "no scenario %s in the data\n", scenario.c_str()), 2;
        ::testing::GTEST_FLAG(filter) = suite + "." + test;
    }
    return RUN_ALL_TESTS();
}
