#include "entry/update_check.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "entry/socket_init.h"
#include "entry/update_client.h"
#include "framework/call_guard.h"
#include "manifest/signature.h"
#include "marvostell.h"

namespace marvostell {
namespace {

constexpr uint32_t kDefaultStallSeconds = 60;

void RunSteps(const CheckRequest &request, CCheckObserver *observer, CheckOutcome &outcome) {
    static const CheckOptions kLegacy;
    const CheckOptions &options = request.options ? *request.options : kLegacy;
    if (options.userAgent && std::strpbrk(options.userAgent, "\r\n")) {
        outcome.failure = StepResult::Failure(Stage::kArgument, ERROR_INVALID_PARAMETER);
        return;
    }
    std::vector<PublicKey> keys;
    std::string badKey;
    if (options.trustedKeys && !ParseTrustedKeys(options.trustedKeys, keys, badKey)) {
        outcome.failure = StepResult::Failure(Stage::kArgument, ERROR_INVALID_PARAMETER);
        return;
    }
    if (!AfxSocketInit()) {
        outcome.failure = StepResult::Failure(Stage::kSockets, 0);
        return;
    }
    CCallGuard guard(options.cancel, options.deadlineSeconds);
    HttpControl control;
    control.guard = &guard;
    const uint32_t stall = options.stallSeconds ? options.stallSeconds : kDefaultStallSeconds;
    const uint64_t stallMilliseconds = static_cast<uint64_t>(stall) * 1000;
    control.stallMilliseconds =
        options.strict ? static_cast<DWORD>(std::min<uint64_t>(stallMilliseconds, 0xFFFFFFFFu)) : 0;
    control.userAgent = options.userAgent;

    CUpdateClient client(observer);
    client.SetNotifyTarget(request.notifyWnd, request.notifyMsg);
    client.SetRules(options.strict ? &control : nullptr, options.strict, options.checkOnly,
                    options.https);
    if (options.trustedKeys) client.SetTrustedKeys(keys);
    client.SetReleaseKeys(options.releaseKeys, options.ignoreRollout);
    const auto stopped = [&] {
        const StopReason reason = guard.Check();
        if (reason != StopReason::kNone) outcome.failure = StoppedFailure(reason);
        return reason != StopReason::kNone;
    };
    if (stopped()) return;
    outcome.failure = client.PrepareManifest(request.url, request.dir);
    outcome.localManifest = client.LocalIni();
    if (!outcome.failure.Ok() || stopped()) return;
    if (!client.FindNewPackage(request.currentVersion, 0)) return;
    outcome.selected = true;
    outcome.section = client.PackageSection();
    outcome.version = client.PackageVersion();
    outcome.staged = client.PackageStaged();
    outcome.details = client.Details();
    if (stopped()) return;
    PackageStepReport report;
    outcome.failure = client.DownloadPackage(report);
    outcome.packageSize = report.size;
    outcome.downloadSize = report.downloadSize;
    outcome.delta = report.delta;
    outcome.deltaBase = report.deltaBase;
    outcome.pathForHost = report.pathForHost;
    outcome.available = outcome.failure.Ok() && report.available;
    outcome.updated = outcome.failure.Ok() && !report.available;
}

}  // namespace

CheckOutcome RunUpdateCheck(const CheckRequest &request, CCheckObserver *observer) {
    CheckOutcome outcome;
    try {
        RunSteps(request, observer, outcome);
    } catch (...) {
        outcome = CheckOutcome();
        outcome.failure = StepResult::Failure(Stage::kUnexpected, 0);
    }
    return outcome;
}

StepResult FinalFailure(const CheckOutcome &outcome, size_t bufferSize) {
    if (outcome.updated && outcome.pathForHost.size() >= bufferSize)
        return StepResult::Failure(Stage::kHostBuffer, ERROR_INSUFFICIENT_BUFFER);
    return outcome.failure;
}

int32_t ResultOf(const StepResult &failure) {
    const uint32_t local = static_cast<uint32_t>(MARVOSTELL_LOCAL_FILE_FLAG);
    switch (failure.stage) {
    case Stage::kNone: return MARVOSTELL_UP_TO_DATE;
    case Stage::kSockets: return MARVOSTELL_ERR_SOCKETS;
    case Stage::kManifestUrl: return MARVOSTELL_ERR_BAD_URL;
    case Stage::kManifestRequest:
    case Stage::kArgument:
    case Stage::kStopped: return static_cast<int32_t>(failure.code);
    case Stage::kPackageEntry: return MARVOSTELL_ERR_PACKAGE_ENTRY;
    case Stage::kDigest: return MARVOSTELL_ERR_DIGEST_MISMATCH;
    case Stage::kNotAManifest: return MARVOSTELL_ERR_NOT_A_MANIFEST;
    case Stage::kSignature: return MARVOSTELL_ERR_SIGNATURE;
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
    const StepResult failure = FinalFailure(outcome, bufferSize);
    if (buffer && !outcome.pathForHost.empty() && outcome.pathForHost.size() < bufferSize)
        std::memcpy(buffer, outcome.pathForHost.c_str(), outcome.pathForHost.size() + 1);
    if (!failure.Ok()) return ResultOf(failure);
    if (outcome.available) return MARVOSTELL_AVAILABLE;
    return outcome.updated ? MARVOSTELL_UPDATED : MARVOSTELL_UP_TO_DATE;
}

}  // namespace marvostell
