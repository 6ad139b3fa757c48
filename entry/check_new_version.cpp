// The module's one export.
#include "marvostell.h"

#include <type_traits>

#include "entry/socket_init.h"
#include "entry/update_client.h"

using marvostell::CUpdateClient;

// Hosts that load the module at run time call it through this type.
static_assert(std::is_same_v<decltype(&CheckNewVersion), MarvostellCheckNewVersionFn>,
              "the export and its function-pointer type must agree");

namespace {

int RunCheck(HWND notifyWnd, uint32_t notifyMsg, uint32_t currentVersion, const char *url,
             const char *dir, char *packagePath) {
    CUpdateClient client;
    client.m_hNotifyWnd = notifyWnd;
    client.m_nNotifyMsg = notifyMsg;
    if (!client.PrepareManifest(url, dir)) return client.GetErrorCode();
    if (!client.FindNewPackage(currentVersion, 0)) return MARVOSTELL_UP_TO_DATE;
    if (client.DownloadPackage(packagePath)) return MARVOSTELL_UPDATED;
    return client.GetErrorCode();
}

}  // namespace

extern "C" int MARVOSTELL_CALL CheckNewVersion(void *hNotifyWnd, uint32_t nNotifyMsg,
                                               uint32_t dwCurrentVersion,
                                               const char *lpszManifestUrl,
                                               const char *lpszLocalDir,
                                               char *lpszPackagePath) {
    if (!marvostell::AfxSocketInit()) return MARVOSTELL_ERR_SOCKETS;
    // No exception may cross into the host: it could not catch it.
    try {
        return RunCheck(static_cast<HWND>(hNotifyWnd), nNotifyMsg, dwCurrentVersion,
                        lpszManifestUrl ? lpszManifestUrl : "", lpszLocalDir ? lpszLocalDir : "",
                        lpszPackagePath);
    } catch (...) {
        return MARVOSTELL_ERR_UNEXPECTED;
    }
}
