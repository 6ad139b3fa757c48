// One whole update check, and the one place where its outcome becomes an
// export's integer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/check_observer.h"
#include "framework/step_result.h"
#include "manifest/package_details.h"
#include "package/package_step.h"
#include "platform/win32.h"

namespace marvostell {

// What the controllable export asks for; the defaults are CheckNewVersion's.
struct CheckOptions {
    // Honest outcomes: a broken server or transfer fails as such, partial
    // packages stay for the next call, and a stop or stall is reported.
    bool strict = false;
    bool checkOnly = false;
    bool https = false;  // an https:// URL is fetched over TLS
    const volatile int32_t *cancel = nullptr;
    uint32_t deadlineSeconds = 0;
    uint32_t stallSeconds = 0;  // 0: the platform's own limits
    const char *userAgent = nullptr;
    const char *trustedKeys = nullptr;  // null: no signature required
    // The keys only CheckNewVersionEx reads: the staged list and its Rollout,
    // DisplayVersion, Notes and Critical.
    bool releaseKeys = false;
    bool ignoreRollout = false;  // a staged package whatever the host's bucket
};

struct CheckRequest {
    HWND notifyWnd;
    uint32_t notifyMsg;
    uint32_t currentVersion;
    const char *url;  // never null
    const char *dir;  // never null
    const CheckOptions *options = nullptr;
};

struct CheckOutcome {
    StepResult failure;         // Ok() when the check ran to its end
    bool updated = false;       // a verified package is ready
    bool available = false;     // check only: a package is offered, nothing fetched
    std::string pathForHost;    // the path for the host's buffer, or empty
    std::string localManifest;  // where the manifest was stored, once it was
    bool selected = false;      // a package was selected: the fields below hold
    std::string section;
    uint32_t version = 0;
    uint32_t packageSize = 0;
    bool staged = false;        // it came from the staged list
    PackageDetails details;     // with releaseKeys only
    uint32_t downloadSize = 0;  // the bytes the package step asked for (or would ask)
    DeltaKind delta = DeltaKind::kNone;  // a patch or the packed package instead (signed only)
    std::string deltaBase;      // a patch's earlier package, by its local name
};

// Starts the socket layer, fetches the manifest, selects a package, fetches
// and verifies it. An exception ends it as an unexpected failure.
CheckOutcome RunUpdateCheck(const CheckRequest &request, CCheckObserver *observer);

// The failure the host sees once the path meets a buffer of `bufferSize`
// bytes: a package path that does not fit with its terminator fails with
// ERROR_INSUFFICIENT_BUFFER.
StepResult FinalFailure(const CheckOutcome &outcome, size_t bufferSize);

// The exports' result for the outcome. The path goes to `buffer` (when not
// null) only if it fits in `bufferSize` bytes; nothing is ever written past.
int32_t FinishCheck(const CheckOutcome &outcome, char *buffer, size_t bufferSize);

}  // namespace marvostell
