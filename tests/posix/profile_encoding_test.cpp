// The profile reader on a file that starts with the UTF-16LE byte-order mark:
// Windows reads it as Unicode and gives the A function the text in the system
// code page, which is UTF-8 on POSIX. (The ASCII cases, and the UTF-8 mark,
// are in the conformance corpus, which Wine runs too; Wine's code page is not
// UTF-8, so the cases here are the POSIX reader's alone.)
#include "platform/posix/win32_posix.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <unistd.h>

namespace {

// "\xFF\xFE" followed by the UTF-16LE units of text.
std::string Utf16File(const std::u16string &text, const std::string &tail = "") {
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : text) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    return bytes + tail;
}

std::string ReadValue(const std::string &fileContent, const char *key) {
    char name[] = "/tmp/marvostell-utf16-XXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    close(fd);
    std::ofstream(name, std::ios::binary) << fileContent;
    char value[64];
    const DWORD n = GetPrivateProfileStringA("s", key, "default", value, sizeof value, name);
    std::remove(name);
    return std::string(value, n);
}

TEST(ProfileUtf16, ValuesComeAsUtf8) {
    const std::string file =
        Utf16File(u"[s]\r\nlatin=caf\u00e9\r\ncjk=\u4e2d\u6587\r\n"
                  u"pair=\U0001F600!\r\nlone=a\xD800" u"b\r\nend=x\r\n");
    EXPECT_EQ(ReadValue(file, "latin"), "caf\xC3\xA9");
    EXPECT_EQ(ReadValue(file, "cjk"), "\xE4\xB8\xAD\xE6\x96\x87");
    EXPECT_EQ(ReadValue(file, "pair"), "\xF0\x9F\x98\x80!");
    EXPECT_EQ(ReadValue(file, "lone"), "a\xEF\xBF\xBD" "b");  // U+FFFD
    EXPECT_EQ(ReadValue(file, "end"), "x");
}

TEST(ProfileUtf16, OddLastByteIsNoCharacter) {
    EXPECT_EQ(ReadValue(Utf16File(u"[s]\r\nk=v", "A"), "k"), "v");
}

// Without the mark the same bytes are 8-bit text: NUL ends every line's
// content, so no section is found.
TEST(ProfileUtf16, NoMarkNoUnicode) {
    const std::string marked = Utf16File(u"[s]\r\nk=v\r\n");
    EXPECT_EQ(ReadValue(marked.substr(2), "k"), "default");
}

}  // namespace
