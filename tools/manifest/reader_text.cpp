#include "reader_text.h"

#include <cstdint>

#include "platform/ini_lines.h"
#include "platform/win32.h"

namespace marvostell::tools {
namespace {

#ifdef _WIN32

// The 16-bit units after the mark; an odd last byte is no character.
std::wstring Units(const std::string &bytes) {
    std::wstring units;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        units += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) |
                                      static_cast<unsigned char>(bytes[i + 1]) << 8);
    return units;
}

// As Windows' reader hands the text on: in the ANSI code page.
std::string Convert(const std::string &bytes) {
    const std::wstring units = Units(bytes);
    if (units.empty()) return "";
    const int size = static_cast<int>(units.size());
    const int length = WideCharToMultiByte(CP_ACP, 0, units.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) WideCharToMultiByte(CP_ACP, 0, units.data(), size, &text[0], length, nullptr, nullptr);
    return text;
}

#else

// As the POSIX reader converts.
std::string Convert(const std::string &bytes) { return ini::FileText(bytes); }

#endif

}  // namespace

bool IsUtf16Le(const std::string &bytes) { return bytes.compare(0, 2, "\xFF\xFE") == 0; }

std::string ReaderText(const std::string &bytes) {
    return IsUtf16Le(bytes) ? Convert(bytes) : bytes;
}

}  // namespace marvostell::tools
