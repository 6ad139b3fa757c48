// The package step: the selected package's entry, its local file, the
// download, the digest check and the second attempt.
#include <cctype>
#include <cstring>

#include "entry/trace.h"
#include "entry/update_client.h"
#include "framework/files.h"
#include "framework/strings.h"
#include "manifest/number.h"
#include "package/hex.h"
#include "package/local_name.h"
#include "package/md5.h"

namespace marvostell {
namespace {

constexpr uint32_t kDigestChars = 32;
constexpr DWORD kDigestReadSize = 8192;

// Windows opens a device, not a file, for these names, with any extension.
// Blanks before the extension do not change the device ("NUL .txt").
bool IsDeviceName(const std::string &name) {
    std::string stem = name.substr(0, name.find('.'));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    std::string upper;
    for (char c : stem) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (upper == "CON" || upper == "PRN" || upper == "AUX" || upper == "NUL" ||
        upper == "CONIN$" || upper == "CONOUT$")
        return true;
    return upper.size() == 4 && (upper.compare(0, 3, "COM") == 0 || upper.compare(0, 3, "LPT") == 0) &&
           upper[3] >= '1' && upper[3] <= '9';
}

bool IsManifestName(const std::string &name) {
    const char manifest[] = "update.ini";
    if (name.size() != sizeof manifest - 1) return false;
    for (size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != manifest[i]) return false;
    return true;
}

}  // namespace

// A local name must name a file inside the local directory, the same file on
// every platform the module runs on (Windows drops a trailing dot or blank),
// and not the manifest copy, which the package would be appended to.
bool IsSafeLocalName(const std::string &name) {
    if (name.empty() || name == "." || name == ".." || IsManifestName(name)) return false;
    if (name.back() == '.' || name.back() == ' ' || IsDeviceName(name)) return false;
    for (unsigned char c : name) {
        if (c < 0x20 || std::strchr("\\:<>\"|?*", c)) return false;
    }
    return true;
}

namespace {

// Whether the MD5 digest of the open file, read from its start through
// buffer in pieces, is expectedHex exactly.
bool DigestMatches(HANDLE file, BYTE *buffer, const char *expectedHex) {
    DWORD remaining = GetFileSize(file, nullptr);
    Md5Context context;
    Md5Start(context);
    while (remaining != 0) {
        DWORD count = 0;
        ReadFile(file, buffer, remaining < kDigestReadSize ? remaining : kDigestReadSize, &count,
                 nullptr);
        if (count == 0) break;
        Md5Add(context, buffer, count);
        remaining -= count;
    }
    uint8_t digest[16];
    Md5Finish(context, digest);
    char actual[kDigestChars + 1];
    HexEncode(digest, sizeof digest, actual, kDigestChars);
    actual[kDigestChars] = '\0';
    Trace("Marvostell!Md5:%s, Server:%s\n", actual, expectedHex);
    return std::strcmp(expectedHex, actual) == 0;
}

// The package is read for its digest without read or write sharing, so no
// transfer can change it meanwhile, but with delete sharing, so that a file
// that fails can be moved aside before the handle is let go. The file moved
// is then always the one that was read, never a verified package that
// another check put in its place.
HANDLE OpenForDigest(const char *localPath) {
    return OpenLocalFile(localPath, GENERIC_READ, FILE_SHARE_DELETE, OPEN_EXISTING);
}

}  // namespace

int CUpdateClient::DownloadPackage(char *outPath) {
    std::string localPath = m_strLocalDir + kPathSeparator;
    const char *section = m_strPackageSection.c_str();

    char value[kValueBufferSize];
    ReadValue(section, "Package", "0", value);
    m_strPackagePath = value;
    TrimWhitespace(m_strPackagePath);

    ReadValue(section, "PackageSize", "0", value);
    m_nPackageSize = ParseManifestNumber(value);
    if (m_nPackageSize == 0 || m_nPackageSize > kMaxPackageSize) {
        m_nError = kErrorPackageEntry;
        return 0;
    }

    if (ReadValue(section, "Md5", "0", value) < kDigestChars) {
        m_nError = kErrorPackageEntry;
        return 0;
    }
    char expected[kDigestChars + 1];
    std::memcpy(expected, value, kDigestChars);
    expected[kDigestChars] = '\0';

    const std::string::size_type slash = FindLastChar(m_strPackagePath, '/');
    const std::string name =
        slash == std::string::npos ? m_strPackagePath : m_strPackagePath.substr(slash + 1);
    if (!IsSafeLocalName(name)) {
        m_nError = kErrorPackageEntry;
        return 0;
    }
    localPath += name;
    Trace("Marvostell!Download(%s->%s, size %d)...\n", m_strPackagePath.c_str(),
          localPath.c_str(), static_cast<int>(m_nPackageSize));

    const bool existedBefore = FindFileByName(localPath.c_str());
    const std::string rejectedPath = localPath + ".err";
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (!DownloadFile(localPath.c_str())) continue;
        CFileHandle file(OpenForDigest(localPath.c_str()));
        if (!file.IsOpen()) {
            // Held by another opener (another check verifying or fetching
            // it), or gone: not a mismatch, and not this call's to move.
            m_nError = static_cast<int32_t>(GetLastError() | kLocalErrorFlag);
            return 0;
        }
        if (DigestMatches(file.Get(), m_pBuffer, expected)) {
            file.Close();
            if (outPath) std::memcpy(outPath, localPath.c_str(), localPath.size() + 1);
            return 1;
        }
        DeleteFileA(rejectedPath.c_str());
        MoveFileA(localPath.c_str(), rejectedPath.c_str());
        file.Close();
        m_nError = kErrorDigestMismatch;
        if (!existedBefore) return 0;
        if (outPath) std::memcpy(outPath, localPath.c_str(), localPath.size() + 1);
    }
    return 0;
}

int CUpdateClient::VerifyMd5(const char *localPath, const char *expectedHex) {
    CFileHandle file(OpenForDigest(localPath));
    return file.IsOpen() && DigestMatches(file.Get(), m_pBuffer, expectedHex) ? 1 : 0;
}

}  // namespace marvostell
