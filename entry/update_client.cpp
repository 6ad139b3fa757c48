#include "entry/update_client.h"

#include "framework/strings.h"
#include "framework/trace.h"
#include "manifest/manifest_fetch.h"
#include "manifest/selection.h"

namespace marvostell {

CUpdateClient::CUpdateClient(CCheckObserver *observer)
    : m_strServer("update.marvostell.example"),
      m_strObject("/update/update.ini"),
      m_pBuffer(new BYTE[kTransferBufferSize]),
      m_pObserver(observer) {}

CUpdateClient::~CUpdateClient() = default;

void CUpdateClient::SetNotifyTarget(HWND window, uint32_t message) {
    m_hNotifyWnd = window;
    m_nNotifyMsg = message;
}

void CUpdateClient::SetRules(const HttpControl *control, bool strict, bool checkOnly, bool https) {
    m_bHasControl = control != nullptr;
    if (control) m_control = *control;
    m_bStrict = strict;
    m_bCheckOnly = checkOnly;
    m_bHttps = https;
}

void CUpdateClient::SetTrustedKeys(const std::vector<PublicKey> &keys) {
    m_bSigned = true;
    m_keys = keys;
}

void CUpdateClient::SetReleaseKeys(bool read, bool ignoreRollout) {
    m_bReleaseKeys = read;
    m_bIgnoreRollout = ignoreRollout;
}

StepResult CUpdateClient::PrepareManifest(const char *url, const char *dir) {
    m_strLocalDir = dir;
    TrimTrailing(m_strLocalDir, kPathSeparator);
    const std::string localIni = m_strLocalDir + kPathSeparator + kLocalManifestName;

    const StepResult parsed = ParseServerUrl(url);
    if (!parsed.Ok()) return parsed;
    // No directory, or only separators, would put the files in the root
    // directory (of the current drive, on Windows): refused before any request.
    if (m_strLocalDir.find_first_not_of(kPathSeparators) == std::string::npos)
        return StepResult::Failure(Stage::kLocalDirectory, ERROR_PATH_NOT_FOUND);
    Trace("Marvostell!Server %s, File %s\n", m_strServer.c_str(), m_strObject.c_str());
    const StepResult fetched = FetchManifest(localIni.c_str());
    // A stored answer that is no manifest, or an expired one, is still there
    // for a reader to look at.
    const bool stored = fetched.stage == Stage::kNotAManifest ||
                        (fetched.stage == Stage::kSignature &&
                         fetched.code == static_cast<uint32_t>(SignatureVerdict::kExpired));
    if (stored) m_strLocalIni = localIni;
    if (!fetched.Ok()) return fetched;

    m_strLocalIni = localIni;
    m_bManifestFetched = true;
    return fetched;
}

StepResult CUpdateClient::ParseServerUrl(const char *url) {
    bool https = false;
    const StepResult parsed = marvostell::ParseServerUrl(url, m_strServer, m_strObject, &https);
    m_control.secure = m_bHttps && https;
    return parsed;
}

StepResult CUpdateClient::FetchManifest(const char *localFile) {
    ManifestFetchRules rules;
    rules.control = m_bHasControl ? &m_control : nullptr;
    rules.strict = m_bStrict;
    rules.keys = m_bSigned ? &m_keys : nullptr;
    rules.observer = m_pObserver;
    return marvostell::FetchManifest(m_strServer, m_strObject, localFile, m_pBuffer.get(), rules,
                                     &m_served);
}

CManifestReader CUpdateClient::Manifest() const {
    return m_bStrict || m_bSigned ? m_served : CManifestReader(m_strLocalIni);
}

bool CUpdateClient::FindNewPackage(uint32_t currentVersion, uint32_t wantedLanguage) {
    if (!m_bManifestFetched) return false;
    const CManifestReader manifest = Manifest();
    if (!m_bReleaseKeys)
        return SelectPackage(manifest, currentVersion, wantedLanguage, m_pObserver,
                             m_strPackageSection, &m_nPackageVersion);
    CHostIdentity identity(m_strLocalDir);
    RolloutRules rules;
    rules.identity = &identity;
    rules.ignore = m_bIgnoreRollout;
    if (!SelectStagedOrUpdate(manifest, currentVersion, wantedLanguage, rules, m_pObserver,
                              m_strPackageSection, m_nPackageVersion, m_bPackageStaged))
        return false;
    m_details = ReadPackageDetails(manifest, m_strPackageSection);
    return true;
}

StepResult CUpdateClient::DownloadPackage(PackageStepReport &report) {
    const CManifestReader manifest = Manifest();
    PackageStepRequest request{manifest,        m_strPackageSection, m_strServer,
                               m_strLocalDir,   m_hNotifyWnd,        m_nNotifyMsg,
                               m_pBuffer.get(), kTransferBufferSize, m_pObserver};
    request.control = m_bHasControl ? &m_control : nullptr;
    request.strict = m_bStrict;
    request.checkOnly = m_bCheckOnly;
    request.sha256Required = m_bSigned;
    request.deltas = m_bSigned && m_bReleaseKeys;
    return FetchPackage(request, report);
}

}  // namespace marvostell
