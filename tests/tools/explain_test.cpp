// The selection explained and mapped: the explanation's verdicts, and the map
// against the explanation, version by version where the numbers are small and
// at every boundary where they are not.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <string>

#include "selection_explain.h"
#include "temp_dir.h"

using namespace marvostell::tools;

namespace {

class ManifestFile {
public:
    explicit ManifestFile(const std::string &text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    marvostell::testing::TempDir dir{"explain"};
    std::string path = dir / "update.ini";
};

const char kRanges[] =
    "[General]\nupdate=a, b;c d,,e\n"
    "[a]\nversion=50\nUnsupport=old\nSupport=mid\n"
    "[old]\nlower=10\nver1=20-25\nver2=30 - 40\n"
    "[mid]\ngreater=5\n"
    "[b]\nversion=0x40\nlanguage=0\nSupport=gone\n"
    "[c]\nversion=100\nlanguage=7\n"
    "[d]\nversion=080\nUnsupport=top\n"
    "[top]\nVER=60-0x45\ngreater=0xFFFFFFFF\n"
    "[e]\nversion=0xFFFFFFFF\nSupport=any\n"
    "[any]\nver=-1\n";

}  // namespace

TEST(ExplainSelection, NamesTheReasonOfEachPackage) {
    ManifestFile manifest(kRanges);
    struct Case {
        uint32_t host;
        const char *selected;  // "" for none
        std::vector<std::string> verdicts;
    } cases[] = {
        {3, "b", {"passed over: the host is in the Unsupport range [old]", "selected"}},
        {12, "a", {"selected"}},
        {22, "b", {"passed over: the host is in the Unsupport range [old]", "selected"}},
        {35, "a", {"selected"}},  // "30 - 40" admits only 30
        {30, "b", {"passed over: the host is in the Unsupport range [old]", "selected"}},
        {0x40, "e",
         {"passed over: not newer than the host", "passed over: not newer than the host",
          "passed over: language 7", "passed over: not newer than the host",
          "passed over: no version", "selected"}},
        {0xFFFFFFFF, "",
         {"passed over: not newer than the host", "passed over: not newer than the host",
          "passed over: not newer than the host", "passed over: not newer than the host",
          "passed over: no version", "passed over: not newer than the host"}},
    };
    for (const Case &c : cases) {
        const SelectionExplanation e = ExplainSelection(manifest.path, c.host);
        EXPECT_EQ(e.selected, c.selected) << c.host;
        std::vector<std::string> verdicts;
        for (const PackageExplanation &p : e.packages) verdicts.push_back(p.verdict);
        EXPECT_EQ(verdicts, c.verdicts) << c.host;
        const std::vector<std::string> lines = ExplanationLines(e);
        EXPECT_EQ(lines.back(), std::string("selected: ") + (*c.selected ? c.selected : "none"));
    }
}

TEST(ExplainSelection, ReportsAMissingListAndAMissingFile) {
    ManifestFile manifest("[General]\nupdate=\n");
    const SelectionExplanation e = ExplainSelection(manifest.path, 1);
    EXPECT_TRUE(e.listMissing);
    EXPECT_FALSE(e.hasSelection);
    EXPECT_TRUE(ExplainSelection("/nonexistent/update.ini", 1).listMissing);
}

// Small numbers: the map must give, for every version up to past the last
// boundary, what the explanation gives; and at the top of the space as well.
TEST(MapSelection, AgreesWithTheExplanationForEveryVersion) {
    ManifestFile manifest(kRanges);
    const std::vector<VersionRange> map = MapSelection(manifest.path);
    ASSERT_FALSE(map.empty());
    EXPECT_EQ(map.front().low, 0u);
    EXPECT_EQ(map.back().high, 0xFFFFFFFFu);
    for (size_t i = 1; i < map.size(); ++i) {
        EXPECT_EQ(map[i].low, map[i - 1].high + 1);
        EXPECT_FALSE(map[i].hasSelection == map[i - 1].hasSelection &&
                     map[i].selected == map[i - 1].selected);
    }
    auto mapped = [&](uint32_t v) {
        for (const VersionRange &r : map)
            if (r.low <= v && v <= r.high) return r.hasSelection ? r.selected : std::string("-");
        return std::string("?");
    };
    auto explained = [&](uint32_t v) {
        const SelectionExplanation e = ExplainSelection(manifest.path, v);
        return e.hasSelection ? e.selected : std::string("-");
    };
    for (uint32_t v = 0; v < 0x90; ++v) EXPECT_EQ(mapped(v), explained(v)) << v;
    for (uint32_t v = 0xFFFFFF00u; v != 0; ++v) EXPECT_EQ(mapped(v), explained(v)) << v;
}

// Large, scattered numbers: agreement at each range's ends and just outside.
TEST(MapSelection, AgreesWithTheExplanationAtEveryBoundary) {
    ManifestFile manifest(
        "[General]\nupdate=p1,p2,p3\n"
        "[p1]\nversion=0x80000000\nSupport=s1\n[s1]\nver1=0x10000-0x1FFFF\nver2=0x7FFFFFFF\n"
        "[p2]\nversion=0xF0000000\nUnsupport=u2\n[u2]\nlower=0x00FFFFFF\ngreater=0xC0000000\n"
        "[p3]\nversion=-1\nSupport=s3\n[s3]\nver=0x0\n");
    const std::vector<VersionRange> map = MapSelection(manifest.path);
    EXPECT_GE(map.size(), 5u);
    for (const VersionRange &r : map) {
        for (uint32_t v : {r.low, r.high}) {
            const SelectionExplanation e = ExplainSelection(manifest.path, v);
            EXPECT_EQ(e.hasSelection, r.hasSelection) << v;
            EXPECT_EQ(e.selected, r.selected) << v;
        }
    }
    const std::string expected[][2] = {
        {"0x00000000-0x00000000", "p3"}, {"0x00000001-0x0000FFFF", "-"},
        {"0x00010000-0x0001FFFF", "p1"},
        {"0x00020000-0x00FFFFFF", "-"},  {"0x01000000-0x7FFFFFFE", "p2"},
        {"0x7FFFFFFF-0x7FFFFFFF", "p1"}, {"0x80000000-0xBFFFFFFF", "p2"},
        {"0xC0000000-0xFFFFFFFF", "-"},
    };
    ASSERT_EQ(map.size(), std::size(expected));
    for (size_t i = 0; i < map.size(); ++i) {
        EXPECT_EQ(HexVersion(map[i].low) + "-" + HexVersion(map[i].high), expected[i][0]);
        EXPECT_EQ(map[i].hasSelection ? map[i].selected : "-", expected[i][1]);
    }
}
