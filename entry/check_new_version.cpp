// The module's export.
#include "marvostell.h"

#include <type_traits>

#include "entry/update_check.h"

// Hosts that load the module at run time call it through this type.
static_assert(std::is_same_v<decltype(&CheckNewVersion), MarvostellCheckNewVersionFn>,
              "the export and its function-pointer type must agree");

extern "C" int MARVOSTELL_CALL CheckNewVersion(void *hNotifyWnd, uint32_t nNotifyMsg,
                                               uint32_t dwCurrentVersion,
                                               const char *lpszManifestUrl,
                                               const char *lpszLocalDir,
                                               char *lpszPackagePath) {
    // No exception may cross into the host: it could not catch it.
    try {
        const marvostell::CheckRequest request{static_cast<HWND>(hNotifyWnd), nNotifyMsg,
                                               dwCurrentVersion,
                                               lpszManifestUrl ? lpszManifestUrl : "",
                                               lpszLocalDir ? lpszLocalDir : ""};
        const marvostell::CheckOutcome outcome = marvostell::RunUpdateCheck(request, nullptr);
        return marvostell::FinishCheck(outcome, lpszPackagePath, MARVOSTELL_PATH_BUFFER_SIZE);
    } catch (...) {
        return MARVOSTELL_ERR_UNEXPECTED;
    }
}
