// The suffix sort of the Windows tools against libdivsufsort, which the
// Linux tools use: the same suffix array for every input.
#include <gtest/gtest.h>

#include <divsufsort.h>

#include <random>
#include <string>
#include <vector>

#include "suffix_sort.h"

namespace {

// `size` bytes drawn from the first `alphabet` byte values.
std::string Random(size_t size, int alphabet, unsigned seed) {
    std::mt19937 random(seed);
    std::string text(size, '\0');
    for (char &c : text) c = static_cast<char>(random() % alphabet);
    return text;
}

std::string Repeat(const std::string &unit, size_t times) {
    std::string text;
    while (times--) text += unit;
    return text;
}

}  // namespace

TEST(SortSuffixes, AgreesWithLibdivsufsort) {
    std::string bytes, falling;
    for (int c = 0; c < 256; ++c) bytes += static_cast<char>(c);
    falling.assign(bytes.rbegin(), bytes.rend());
    const std::string inputs[] = {
        "a", "ba", "aaaaaaaa", "banana", "mississippi", "abracadabra", bytes, falling,
        Repeat("ab", 5000), Repeat("abaabaaab", 3000), Repeat(std::string("\xff\0", 2), 4000) + "\x01",
        Random(1000, 2, 1), Random(100000, 2, 2), Random(100000, 4, 3), Random(300000, 256, 4),
        Repeat(Random(5000, 256, 5), 20) + Random(777, 3, 6),
    };
    for (const std::string &input : inputs) {
        const auto *text = reinterpret_cast<const uint8_t *>(input.data());
        const auto n = static_cast<int32_t>(input.size());
        std::vector<int32_t> ours(n), theirs(n);
        marvostell::tools::SortSuffixes(text, ours.data(), n);
        ASSERT_EQ(divsufsort(text, theirs.data(), n), 0);
        EXPECT_TRUE(ours == theirs) << "input of " << n << " bytes starting " << input.substr(0, 16);
    }
}
