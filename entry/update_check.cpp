#include "entry/update_check.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "entry/socket_init.h"
#include "entry/update_client.h"
#include "http/call_guard.h"
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

int32_t FinishCheck(const CheckOutcome &outcome, char *buffer, size_t bufferSize) {
    const StepResult failure = FinalFailure(outcome, bufferSize);
    if (buffer && !outcome.pathForHost.empty() && outcome.pathForHost.size() < bufferSize)
        std::memcpy(buffer, outcome.pathForHost.c_str(), outcome.pathForHost.size() + 1);
    if (!failure.Ok()) return ResultOf(failure);
    if (outcome.available) return MARVOSTELL_AVAILABLE;
    return outcome.updated ? MARVOSTELL_UPDATED : MARVOSTELL_UP_TO_DATE;
}

}  // namespace marvostell
