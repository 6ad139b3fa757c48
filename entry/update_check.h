// One whole update check, and the one place where its outcome becomes the
// export's integer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/check_observer.h"
#include "framework/step_result.h"
#include "platform/win32.h"

namespace marvostell {

struct CheckRequest {
    HWND notifyWnd;
    uint32_t notifyMsg;
    uint32_t currentVersion;
    const char *url;  // never null
    const char *dir;  // never null
};

struct CheckOutcome {
    StepResult failure;       // Ok() when the check ran to its end
    bool updated = false;     // a verified package is ready
    std::string pathForHost;  // the path for the host's buffer, or empty
};

// Starts the socket layer, fetches the manifest, selects a package, fetches
// and verifies it. Exceptions pass through: the export catches them.
CheckOutcome RunUpdateCheck(const CheckRequest &request, CCheckObserver *observer);

// The export's result for a failed step: module codes as they are, local-file
// and package-request codes with MARVOSTELL_LOCAL_FILE_FLAG.
int32_t ResultOf(const StepResult &failure);

// The export's result for the outcome. The path goes to `buffer` (when not
// null) only if it fits in `bufferSize` bytes with its terminator; a package
// path that does not fit fails with ERROR_INSUFFICIENT_BUFFER, and nothing is
// written.
int32_t FinishCheck(const CheckOutcome &outcome, char *buffer, size_t bufferSize);

}  // namespace marvostell
