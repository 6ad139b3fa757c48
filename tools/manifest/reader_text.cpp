#include "reader_text.h"

#include <cstdint>

#include "platform/win32.h"

namespace marvostell::tools {
namespace {

// The 16-bit units after the mark; an odd last byte is no character.
std::wstring Units(const std::string &bytes) {
    std::wstring units;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        units += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
    return units;
}

#ifdef _WIN32

std::string Convert(const std::wstring &units) {
    if (units.empty()) return "";
    const int size = static_cast<int>(units.size());
    const int length = WideCharToMultiByte(CP_ACP, 0, units.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) WideCharToMultiByte(CP_ACP, 0, units.data(), size, &text[0], length, nullptr, nullptr);
    return text;
}

#else

void AppendUtf8(std::string &out, uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
        return;
    }
    const int extra = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    out += static_cast<char>((0xFFu << (7 - extra)) | (c >> (6 * extra)));  // 110x, 1110x, 11110x
    for (int shift = 6 * (extra - 1); shift >= 0; shift -= 6)
        out += static_cast<char>(0x80 | ((c >> shift) & 0x3F));
}

// As the POSIX reader converts: pairs of surrogates join, a lone one is U+FFFD.
std::string Convert(const std::wstring &units) {
    std::string text;
    for (size_t i = 0; i < units.size(); ++i) {
        uint32_t c = static_cast<uint16_t>(units[i]);
        const uint32_t next = i + 1 < units.size() ? static_cast<uint16_t>(units[i + 1]) : 0;
        if (c >= 0xD800 && c < 0xDC00 && next >= 0xDC00 && next < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (next - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        AppendUtf8(text, c);
    }
    return text;
}

#endif

}  // namespace

bool IsUtf16Le(const std::string &bytes) { return bytes.compare(0, 2, "\xFF\xFE") == 0; }

std::string ReaderText(const std::string &bytes) {
    return IsUtf16Le(bytes) ? Convert(Units(bytes)) : bytes;
}

}  // namespace marvostell::tools
