// The per-call state of one update check and its operations.
#pragma once

#include <cstdint>
#include <string>

#include "manifest/selection_observer.h"
#include "marvostell.h"
#include "platform/win32.h"

namespace marvostell {

// Values of m_nError besides system and Internet error codes: the export's
// results, as the public header defines them.
enum : int32_t {
    kErrorUnexpected = MARVOSTELL_ERR_UNEXPECTED,
    kErrorBadUrl = MARVOSTELL_ERR_BAD_URL,
    kErrorPackageEntry = MARVOSTELL_ERR_PACKAGE_ENTRY,
    kErrorDigestMismatch = MARVOSTELL_ERR_DIGEST_MISMATCH,
};
// Marks a local-file failure or a failed package request; the low bits hold
// the system's error code.
constexpr uint32_t kLocalErrorFlag = static_cast<uint32_t>(MARVOSTELL_LOCAL_FILE_FLAG);

constexpr int32_t kTransferBufferSize = 32768;
// Every manifest value is read into this many characters, terminator included.
constexpr DWORD kValueBufferSize = 255;
constexpr uint32_t kMaxPackageSize = 0x8000000;  // 128 MiB
// The agent text of both requests, manifest and package.
inline constexpr char kUserAgent[] = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

class CUpdateClient {
public:
    CUpdateClient();
    virtual ~CUpdateClient();
    CUpdateClient(const CUpdateClient &) = delete;
    CUpdateClient &operator=(const CUpdateClient &) = delete;

    // Manifest retrieval
    int PrepareManifest(const char *url, const char *dir);
    int ParseServerUrl(const char *url);
    int FetchManifest(const char *server, const char *object, const char *localFile);

    // Package selection
    int FindNewPackage(uint32_t currentVersion, uint32_t wantedLanguage);
    int IsUnSupportVersion(const char *section, uint32_t currentVersion);
    int IsSupportVersion(const char *section, uint32_t currentVersion);

    // Package retrieval
    int DownloadPackage(char *outPath);
    int DownloadFile(const char *localPath);
    int VerifyMd5(const char *localPath, const char *expectedHex);

    int32_t GetErrorCode() const { return m_nError; }

    int32_t m_bManifestFetched = 0;
    int32_t m_bDownloadComplete = 0;
    std::string m_strServer;
    std::string m_strObject;
    std::string m_strPackageSection;
    std::string m_strPackagePath;
    std::string m_strLocalDir;
    std::string m_strLocalIni;
    uint32_t m_nPackageSize = 0;
    uint32_t m_nNotifyMsg = 0;
    HWND m_hNotifyWnd = nullptr;
    BYTE *m_pBuffer = nullptr;
    int32_t m_nBufferSize = 0;
    // -1 until a step stores a code, so an unset code never reads as 0 or 1.
    int32_t m_nError = kErrorUnexpected;
    // Told each decision of FindNewPackage; null in the module's own calls.
    CSelectionObserver *m_pSelectionObserver = nullptr;

private:
    // Shared by the two range tests; `support` selects IsSupportVersion's rules.
    int IsVersionInRange(const char *section, uint32_t currentVersion, bool support);
    void Notify(const SelectionEvent &event) const {
        if (m_pSelectionObserver) m_pSelectionObserver->OnSelectionEvent(event);
    }
    DWORD ReadValue(const char *section, const char *key, const char *defaultValue,
                    char (&value)[kValueBufferSize]) const;
};

// Splits "host:port" for the connection; without a port, or with one that is
// not a number from 1 to 65535, the whole text is the host and the port is 80.
void SplitHostPort(const std::string &server, std::string &host, INTERNET_PORT &port);

}  // namespace marvostell
