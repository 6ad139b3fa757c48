#include "package/package_entry.h"

#include <cctype>
#include <cstring>

#include "framework/files.h"
#include "framework/strings.h"

namespace marvostell {
namespace {

std::string Upper(std::string text) {
    for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// A digit of a COM or LPT device name: 0 to 9, or the superscripts one to
// three (bytes 0xB9, 0xB2 and 0xB3 in the ANSI code page).
bool IsPortDigit(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= '0' && u <= '9') || u == 0xB9 || u == 0xB2 || u == 0xB3;
}

// Windows opens a device, not a file, for these names, with any extension.
// Blanks before the extension do not change the device ("NUL .txt").
bool IsDeviceName(const std::string &name) {
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    const std::string upper = Upper(stem);
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" ||
        upper == "CONIN$" || upper == "CONOUT$")
        return true;
    return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
           IsPortDigit(upper[3]);
}

bool IsManifestName(const std::string &name) {
    return Upper(name) == Upper(kLocalManifestName);
}

}  // namespace

std::string LocalNameOf(const std::string &packagePath) {
    const std::string::size_type slash = FindLastChar(packagePath, '/');
    return slash == std::string::npos ? packagePath : packagePath.substr(slash + 1);
}

bool IsSafeLocalName(const std::string &name) {
    if (name.empty() || name == "." || name == ".." || IsManifestName(name)) return false;
    if (name.back() == '.' || name.back() == ' ' || IsDeviceName(name)) return false;
    for (unsigned char c : name) {
        if (c < 0x20 || std::strchr("\\:<>\"|?*", c)) return false;
    }
    return true;
}

bool IsSha256Text(const std::string &text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos;
}

PackageEntry ReadPackageEntry(const CManifestValues &manifest, const char *section,
                              bool sha256Required) {
    PackageEntry entry;
    char value[kValueBufferSize];
    manifest.Read(section, "Package", "0", value);
    entry.path = value;
    TrimWhitespace(entry.path);
    entry.localName = LocalNameOf(entry.path);

    entry.size = manifest.Number(section, "PackageSize");
    const DWORD md5Length = manifest.Read(section, "Md5", "0", value);
    entry.md5.assign(value, md5Length < kMd5Chars ? md5Length : kMd5Chars);
    entry.sha256 = manifest.Value(section, "Sha256", "");
    TrimWhitespace(entry.sha256);

    if (entry.size == 0 || entry.size > kMaxPackageSize)
        entry.fault = EntryFault::kSize;
    else if (md5Length < kMd5Chars)
        entry.fault = EntryFault::kMd5;
    else if (!IsSafeLocalName(entry.localName))
        entry.fault = EntryFault::kLocalName;
    else if (sha256Required && !IsSha256Text(entry.sha256))
        entry.fault = EntryFault::kSha256;
    return entry;
}

}  // namespace marvostell
