// The per-call state of one update check and its steps, in the order the
// export runs them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/check_observer.h"
#include "framework/step_result.h"
#include "http/http_get.h"
#include "manifest/manifest_reader.h"
#include "manifest/package_details.h"
#include "manifest/signature.h"
#include "package/package_step.h"
#include "platform/win32.h"

namespace marvostell {

constexpr DWORD kTransferBufferSize = 32768;

class CUpdateClient {
public:
    // The observer, when given, is told what the check does; the module's
    // own calls pass none.
    explicit CUpdateClient(CCheckObserver *observer = nullptr);
    ~CUpdateClient();
    CUpdateClient(const CUpdateClient &) = delete;
    CUpdateClient &operator=(const CUpdateClient &) = delete;

    void SetNotifyTarget(HWND window, uint32_t message);
    // The controllable export's rules: requests under `control` (null: plain
    // ones), honest outcomes when `strict`, no package request when
    // `checkOnly`, TLS for an https:// URL when `https`.
    void SetRules(const HttpControl *control, bool strict, bool checkOnly, bool https);
    // A manifest must then carry a signature by one of the keys and not have
    // expired, and the package must match its Sha256 too.
    void SetTrustedKeys(const std::vector<PublicKey> &keys);
    // The keys only CheckNewVersionEx reads (`read`): the staged list walked
    // first, with the host's identity from the local directory unless
    // `ignoreRollout`, and the selected package's details.
    void SetReleaseKeys(bool read, bool ignoreRollout);

    // Manifest retrieval: the local directory, the URL split, one GET stored
    // as the directory's update.ini.
    StepResult PrepareManifest(const char *url, const char *dir);
    StepResult ParseServerUrl(const char *url);
    StepResult FetchManifest(const char *localFile);

    // Package selection on the fetched manifest; false (nothing newer) until
    // PrepareManifest has succeeded. Under the controllable export's rules
    // the selection and the package step read the bytes fetched (and
    // verified), never the stored copy that another check may replace
    // meanwhile; CheckNewVersion reads the stored copy as it always has.
    bool FindNewPackage(uint32_t currentVersion, uint32_t wantedLanguage);

    // The selected package fetched and verified; see FetchPackage.
    StepResult DownloadPackage(PackageStepReport &report);

    const std::string &LocalIni() const { return m_strLocalIni; }
    const std::string &PackageSection() const { return m_strPackageSection; }
    // The selected package's version.
    uint32_t PackageVersion() const { return m_nPackageVersion; }
    bool PackageStaged() const { return m_bPackageStaged; }
    const PackageDetails &Details() const { return m_details; }

private:
    CManifestReader Manifest() const;

    bool m_bManifestFetched = false;
    bool m_bHasControl = false;
    HttpControl m_control;
    bool m_bStrict = false;
    bool m_bCheckOnly = false;
    bool m_bHttps = false;
    bool m_bSigned = false;
    std::vector<PublicKey> m_keys;
    std::string m_strServer;
    std::string m_strObject;
    std::string m_strPackageSection;
    uint32_t m_nPackageVersion = 0;
    bool m_bReleaseKeys = false;
    bool m_bIgnoreRollout = false;
    bool m_bPackageStaged = false;
    PackageDetails m_details;
    std::string m_strLocalDir;
    std::string m_strLocalIni;
    CManifestReader m_served{""};
    uint32_t m_nNotifyMsg = 0;
    HWND m_hNotifyWnd = nullptr;
    std::unique_ptr<BYTE[]> m_pBuffer;
    CCheckObserver *m_pObserver;
};

}  // namespace marvostell
