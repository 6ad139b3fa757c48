// Manifest numbers read as a 32-bit strtoul with base 0 reads them, on every
// platform (a 64-bit strtoul gives other answers above 0xFFFFFFFF).
#include <gtest/gtest.h>

#include "manifest/number.h"

using marvostell::ParseManifestNumber;

TEST(ManifestNumber, ReadsAs32BitStrtoulWithBase0) {
    struct Case {
        const char *text;
        uint32_t value;
        int stop;  // characters read; 0 when there were no digits
    } cases[] = {
        {"1000", 1000, 4},          {"  \t42", 42, 5},         {"+7", 7, 2},
        {"0x1F", 0x1F, 4},          {"0X1f", 0x1F, 4},         {"010", 8, 3},
        {"08", 0, 1},               {"0", 0, 1},               {"0x", 0, 1},
        {"0xg", 0, 1},              {"1000 bytes", 1000, 4},   {"12-34", 12, 2},
        {"-1", 0xFFFFFFFFu, 2},     {"-0x10", 0xFFFFFFF0u, 5}, {"4294967295", 0xFFFFFFFFu, 10},
        {"4294967296", 0xFFFFFFFFu, 10}, {"99999999999999999999", 0xFFFFFFFFu, 20},
        {"-4294967295", 1, 11},     {"-4294967296", 0xFFFFFFFFu, 11},
        {"0x100000000", 0xFFFFFFFFu, 11}, {"", 0, 0},  {"abc", 0, 0},
        {"-", 0, 0},                {" - 5", 0, 0},
    };
    for (const Case &c : cases) {
        const char *stop = nullptr;
        EXPECT_EQ(ParseManifestNumber(c.text, &stop), c.value) << '"' << c.text << '"';
        EXPECT_EQ(stop - c.text, c.stop) << '"' << c.text << '"';
    }
}
