#include "package/md5.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using marvostell::Md5Add;
using marvostell::Md5Context;
using marvostell::Md5Finish;
using marvostell::Md5Start;

std::string Hex(const uint8_t digest[16]) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (int i = 0; i < 16; ++i) {
        out += kDigits[digest[i] >> 4];
        out += kDigits[digest[i] & 15];
    }
    return out;
}

std::string Md5Hex(const void *data, size_t size) {
    Md5Context c;
    Md5Start(c);
    Md5Add(c, data, size);
    uint8_t d[16];
    Md5Finish(c, d);
    return Hex(d);
}

std::string Md5Hex(const std::string &s) { return Md5Hex(s.data(), s.size()); }

struct Known {
    std::string input;
    const char *digest;
};

// RFC 1321, appendix A.5.
TEST(Md5, Rfc1321TestSuite) {
    const Known cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const Known &k : cases) EXPECT_EQ(Md5Hex(k.input), k.digest) << '"' << k.input << '"';
}

// Lengths around the padding boundaries (55/56 bytes: the length field fits
// in the last block or needs another one) and a million bytes.
TEST(Md5, PaddingBoundaries) {
    const std::pair<size_t, const char *> cases[] = {
        {55, "ef1772b6dff9a122358552954ad0df65"},  {56, "3b0c8ac703f828b04c6c197006d17218"},
        {57, "652b906d60af96844ebd21b674f35e93"},  {63, "b06521f39153d618550606be297466d5"},
        {64, "014842d480b571495a4a0363793f7367"},  {65, "c743a45e0d2e6a95cb859adae0248435"},
        {119, "8a7bd0732ed6a28ce75f6dabc90e1613"}, {120, "5f61c0ccad4cac44c75ff505e1f1e537"},
        {128, "e510683b3f5ffe4093d021808bc6ff70"},
        {1000000, "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const auto &k : cases) EXPECT_EQ(Md5Hex(std::string(k.first, 'a')), k.second) << k.first;
}

// Pieces of awkward sizes, unaligned starts included, give the one-shot digest.
TEST(Md5, PiecesEqualOneShot) {
    std::vector<uint8_t> data(3 * 1024 * 1024 + 37);
    uint64_t x = 0x9e3779b97f4a7c15ull;
    for (uint8_t &b : data) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        b = static_cast<uint8_t>(x >> 24);
    }
    const std::string whole = Md5Hex(data.data(), data.size());

    const std::vector<std::vector<size_t>> patterns = {
        {1}, {63}, {64}, {65}, {4097}, {1, 63, 64, 65, 4097, 0, 7, 8192, 127, 129}, {32768, 3}};
    for (const auto &pattern : patterns) {
        Md5Context c;
        Md5Start(c);
        size_t pos = 0;
        for (size_t i = 0; pos < data.size(); ++i) {
            size_t n = std::min(pattern[i % pattern.size()], data.size() - pos);
            Md5Add(c, data.data() + pos, n);
            pos += n;
        }
        uint8_t d[16];
        Md5Finish(c, d);
        EXPECT_EQ(Hex(d), whole) << "first piece " << pattern[0];
    }
}

TEST(Md5, RestartedContextForgetsEarlierInput) {
    Md5Context c;
    Md5Start(c);
    Md5Add(c, "garbage that is longer than one block of sixty-four bytes.......", 64);
    Md5Add(c, "xyz", 3);
    uint8_t d[16];
    Md5Finish(c, d);
    Md5Start(c);
    Md5Add(c, "abc", 3);
    Md5Finish(c, d);
    EXPECT_EQ(Hex(d), "900150983cd24fb0d6963f7d28e17f72");
}

}  // namespace
