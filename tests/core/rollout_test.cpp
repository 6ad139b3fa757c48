// The rollout's arithmetic and the texts a host is given: each a table. The
// same buckets on every target are checked through the tools (explain
// --host-id, tests/tools/manifest_test.py) and the scenarios (staged.txt).
#include <gtest/gtest.h>

#include <cstdio>

#include "framework/strings.h"
#include "manifest/rollout.h"

using namespace marvostell;

// Over 1000 identities, a staged package reaches its percentage of them
// within two points.
TEST(Rollout, AdmitsItsShareOfHosts) {
    const uint32_t percents[] = {0, 10, 50, 90, 100};
    for (uint32_t percent : percents) {
        int admitted = 0;
        for (unsigned i = 0; i < 1000; ++i) {
            char id[33];
            std::snprintf(id, sizeof id, "%08x%08x%08x%08x", i * 2654435761u, i, ~i, i * 40503u);
            uint32_t bucket = 0;
            ASSERT_TRUE(RolloutBucket(id, "app-2.2", bucket));
            ASSERT_LT(bucket, kRolloutBuckets);
            admitted += IsAdmitted(bucket, percent);
        }
        EXPECT_NEAR(admitted / 10.0, percent, 2.0) << percent << "%";
    }
}

TEST(Rollout, ReadsOnlyAWholeIdentity) {
    struct Case {
        const char *text;
        const char *id;  // null: no identity
    } cases[] = {
        {"0123456789abcdef0123456789abcdef\n", "0123456789abcdef0123456789abcdef"},
        {"0123456789ABCDEF0123456789abcdef\r\n", "0123456789abcdef0123456789abcdef"},
        {"0123456789abcdef0123456789abcdef", "0123456789abcdef0123456789abcdef"},
        {"0123456789abcdef0123456789abcde\n", nullptr},
        {"0123456789abcdef0123456789abcdef0\n", nullptr},
        {"0123456789abcdef0123456789abcdeg\n", nullptr},
        {" 0123456789abcdef0123456789abcdef\n", nullptr},
        {"0123456789abcdef0123456789abcdef\nmore", nullptr},
        {"", nullptr},
    };
    for (const Case &c : cases) {
        std::string id = "unset";
        EXPECT_EQ(ParseHostId(c.text, id), c.id != nullptr) << c.text;
        EXPECT_EQ(id, c.id ? c.id : "unset") << c.text;
    }
}

TEST(OfferText, CutsAtACharacterBoundary) {
    struct Case {
        const char *text;
        size_t max;
        const char *cut;
    } cases[] = {
        {"abcdef", 6, "abcdef"},          {"abcdef", 4, "abcd"},
        {"ab\xc3\xa9", 3, "ab"},          {"ab\xc3\xa9", 4, "ab\xc3\xa9"},
        {"a\xe2\x82\xac", 3, "a"},        {"a\xe2\x82\xac", 2, "a"},
        {"a\xf0\x9f\x98\x80z", 4, "a"},   {"a\xf0\x9f\x98\x80z", 5, "a\xf0\x9f\x98\x80"},
        // Bytes that are no UTF-8 sequence are cut where the limit falls.
        {"a\xa9\xa9\xa9\xa9", 3, "a\xa9\xa9"}, {"\xe9t\xe9", 2, "\xe9t"},
    };
    for (const Case &c : cases) {
        std::string text = c.text;
        CutAtCharacter(text, c.max);
        EXPECT_EQ(text, c.cut) << c.text << " to " << c.max;
    }
}
