#include "entry/update_check.h"

#include <cstring>

#include "entry/socket_init.h"
#include "entry/update_client.h"
#include "marvostell.h"

namespace marvostell {

CheckOutcome RunUpdateCheck(const CheckRequest &request, CCheckObserver *observer) {
    CheckOutcome outcome;
    if (!AfxSocketInit()) {
        outcome.failure = StepResult::Failure(Stage::kSockets, 0);
        return outcome;
    }
    CUpdateClient client(observer);
    client.SetNotifyTarget(request.notifyWnd, request.notifyMsg);
    outcome.failure = client.PrepareManifest(request.url, request.dir);
    if (!outcome.failure.Ok()) return outcome;
    if (!client.FindNewPackage(request.currentVersion, 0)) return outcome;
    outcome.failure = client.DownloadPackage(outcome.pathForHost);
    outcome.updated = outcome.failure.Ok();
    return outcome;
}

int32_t ResultOf(const StepResult &failure) {
    const uint32_t local = static_cast<uint32_t>(MARVOSTELL_LOCAL_FILE_FLAG);
    switch (failure.stage) {
    case Stage::kNone: return MARVOSTELL_UP_TO_DATE;
    case Stage::kSockets: return MARVOSTELL_ERR_SOCKETS;
    case Stage::kManifestUrl: return MARVOSTELL_ERR_BAD_URL;
    case Stage::kManifestRequest: return static_cast<int32_t>(failure.code);
    case Stage::kPackageEntry: return MARVOSTELL_ERR_PACKAGE_ENTRY;
    case Stage::kDigest: return MARVOSTELL_ERR_DIGEST_MISMATCH;
    case Stage::kLocalDirectory:
    case Stage::kManifestFile:
    case Stage::kPackageRequest:
    case Stage::kPackageFile:
    case Stage::kHostBuffer: return static_cast<int32_t>(failure.code | local);
    case Stage::kUnexpected: break;
    }
    return MARVOSTELL_ERR_UNEXPECTED;
}

int32_t FinishCheck(const CheckOutcome &outcome, char *buffer, size_t bufferSize) {
    StepResult failure = outcome.failure;
    if (!outcome.pathForHost.empty()) {
        if (outcome.pathForHost.size() < bufferSize) {
            if (buffer)
                std::memcpy(buffer, outcome.pathForHost.c_str(), outcome.pathForHost.size() + 1);
        } else if (outcome.updated) {
            failure = StepResult::Failure(Stage::kHostBuffer, ERROR_INSUFFICIENT_BUFFER);
        }
    }
    if (failure.Ok()) return outcome.updated ? MARVOSTELL_UPDATED : MARVOSTELL_UP_TO_DATE;
    return ResultOf(failure);
}

}  // namespace marvostell
