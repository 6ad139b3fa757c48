// The request's header lines and URL, built with no network.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "http_request_lines.h"

namespace posix = marvostell::posix;
using Lines = std::vector<std::string>;

TEST(RequestLines, InWinInetsOrderWithCurlsOwnRemoved) {
    const struct {
        const char *name;
        posix::RequestHeaders headers;
        Lines expected;
    } cases[] = {
        {"manifest", {"", {}, "agent", {"Content-Type: x"}},
         {"Host: h:8080", "User-Agent: agent", "Content-Type: x", "Expect:", "Accept:"}},
        {"package", {"*/*", {"Range: bytes=5-"}, "agent", {}},
         {"Accept: */*", "Range: bytes=5-\r\nHost: h:8080", "User-Agent: agent", "Expect:",
          "Host:"}},
        {"no agent", {"*/*", {}, "", {}}, {"Accept: */*\r\nHost: h:8080", "Expect:", "Host:"}},
    };
    for (const auto &c : cases)
        EXPECT_EQ(posix::CurlHeaderLines(c.headers, "h:8080"), c.expected) << c.name;
}

TEST(RequestLines, HeaderTextAndNames) {
    Lines lines;
    EXPECT_TRUE(posix::ParseHeaderLines("Range:bytes=5-\r\n X-Two :  2 \n\r\n", 28, &lines));
    EXPECT_EQ(lines, (Lines{"Range: bytes=5-", "X-Two: 2"}));
    EXPECT_FALSE(posix::ParseHeaderLines("no colon", static_cast<DWORD>(-1), &lines));
    EXPECT_FALSE(posix::ParseHeaderLines("two words: x", static_cast<DWORD>(-1), &lines));

    EXPECT_EQ(posix::HostPort(false, "::1", 80), "[::1]");
    EXPECT_EQ(posix::HostPort(false, "h", 443), "h:443");
    EXPECT_EQ(posix::HostPort(true, "h", 443), "h");
    EXPECT_EQ(posix::UrlPath("a b/\x80?x=%41"), "/a%20b/%80?x=%41");
    for (const char *good : {"example.org", "[::1]", "::1", "a_b-c"})
        EXPECT_TRUE(posix::ValidHostName(good)) << good;
    for (const char *bad : {"", "h:80", "[::1", "a/b", "[h]"})
        EXPECT_FALSE(posix::ValidHostName(bad)) << bad;
}
