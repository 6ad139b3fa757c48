// The whole check through the export, scenario by scenario from the files
// under data/. The same scenarios run against the Linux library and against
// each DLL under Wine, so every target gives the same outcome for the same
// server and manifest.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <ostream>

#include "marvostell.h"
#include "scenario_data.h"

using namespace marvostell::testing;

namespace {

Target g_target;

std::vector<Scenario> AllScenarios() {
    std::vector<Scenario> scenarios;
    std::string error;
    if (!LoadScenarios(MARVOSTELL_SCENARIO_DATA, {"common.txt", "manifest.txt", "selection.txt", "package.txt", "host.txt"},
                       &scenarios, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        std::exit(2);
    }
    return scenarios;
}

class ScenarioTest : public ::testing::TestWithParam<Scenario> {};

TEST_P(ScenarioTest, GivesTheExpectedOutcome) {
    const Scenario &s = GetParam();
    TestServer server;
    s.server.ApplyTo(server);
    if (s.check.url.find("{server6}") != std::string::npos && !server.ipv6())
        GTEST_SKIP() << "no IPv6 loopback here";
    const bool wine = g_target.name != "native";
    const Outcome &expected = wine && s.wine ? *s.wine : s.expected;

    const Outcome got = RunCheck(g_target, server, s.check);
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
}

INSTANTIATE_TEST_SUITE_P(All, ScenarioTest, ::testing::ValuesIn(AllScenarios()),
                         [](const ::testing::TestParamInfo<Scenario> &info) { return info.param.name; });

}  // namespace

namespace marvostell::testing {
void PrintTo(const Scenario &scenario, std::ostream *out) { *out << scenario.name; }
const Target &CurrentTarget() { return g_target; }
}  // namespace marvostell::testing

int main(int argc, char **argv) {
    ::testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--target=", 0) == 0) g_target.name = arg.substr(9);
        else if (arg.rfind("--host=", 0) == 0) g_target.host = arg.substr(7);
        else if (arg.rfind("--dll=", 0) == 0) g_target.dll = arg.substr(6);
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
    return RUN_ALL_TESTS();
}
