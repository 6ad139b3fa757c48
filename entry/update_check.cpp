#include "entry/update_check.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "entry/socket_init.h"
#include "framework/strings.h"
#include "framework/trace.h"
#include "http/call_guard.h"
#include "http/check_rules.h"
#include "manifest/manifest_fetch.h"
#include "manifest/selection.h"
#include "manifest/signature.h"
#include "marvostell.h"
#include "package/package_step.h"
#include "package/transfer.h"

namespace marvostell {
namespace {

constexpr uint32_t kDefaultStallSeconds = 60;
// The check's one buffer: the manifest as served, then the package's pieces.
constexpr DWORD kCheckBufferSize = std::max(kManifestLimit, kPackagePieceSize);

// Where a check's requests and files go: the manifest's server and path, from
// the URL, and the local directory without its trailing separators.
struct CheckPlace {
    std::string server;
    std::string object;
    bool https = false;  // the URL's scheme
    std::string localDir;
};

StepResult FindPlace(const CheckRequest &request, CheckPlace &place) {
    place.localDir = request.dir;
    TrimTrailing(place.localDir, kPathSeparator);
    const StepResult parsed = ParseServerUrl(request.url, place.server, place.object, &place.https);
    if (!parsed.Ok()) return parsed;
    // No directory, or only separators, would put the files in the root
    // directory (of the current drive, on Windows): refused before any request.
    if (place.localDir.find_first_not_of(kPathSeparators) == std::string::npos)
        return StepResult::Failure(Stage::kLocalDirectory, ERROR_PATH_NOT_FOUND);
    return StepResult::Success();
}

// The package offered to `currentVersion`, into the outcome; false: nothing newer.
bool SelectCheckPackage(const CManifestReader &manifest, const CheckRequest &request,
                        const CheckOptions &options, const std::string &localDir,
                        const CheckRules &rules, CheckOutcome &outcome) {
    std::string section;
    uint32_t version = 0;
    bool staged = false;
    if (!options.releaseKeys) {
        if (!SelectPackage(manifest, request.currentVersion, 0, rules.observer, section, &version))
            return false;
    } else {
        CHostIdentity identity(localDir);
        RolloutRules rollout;
        rollout.identity = &identity;
        rollout.ignore = options.ignoreRollout;
        if (!SelectStagedOrUpdate(manifest, request.currentVersion, 0, rollout, rules.observer,
                                  section, version, staged))
            return false;
        outcome.details = ReadPackageDetails(manifest, section);
    }
    outcome.selected = true;
    outcome.section = section;
    outcome.version = version;
    outcome.staged = staged;
    return true;
}

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

    CheckRules rules;
    rules.control = options.strict ? &control : nullptr;
    rules.checkOnly = options.checkOnly;
    rules.keys = options.trustedKeys ? &keys : nullptr;
    rules.observer = observer;
    rules.notifyWnd = request.notifyWnd;
    rules.notifyMsg = request.notifyMsg;
    const auto stopped = [&] {
        const StopReason reason = guard.Check();
        if (reason != StopReason::kNone) outcome.failure = StoppedFailure(reason);
        return reason != StopReason::kNone;
    };
    if (stopped()) return;
    CheckPlace place;
    outcome.failure = FindPlace(request, place);
    control.secure = options.https && place.https;
    if (!outcome.failure.Ok()) return;
    Trace("Marvostell!Server %s, File %s\n", place.server.c_str(), place.object.c_str());
    const std::string localIni = place.localDir + kPathSeparator + kLocalManifestName;
    const std::unique_ptr<BYTE[]> buffer(new BYTE[kCheckBufferSize]);
    CManifestReader served{""};
    outcome.failure =
        FetchManifest(place.server, place.object, localIni.c_str(), buffer.get(), rules, &served);
    // A stored answer that is no manifest, or an expired one, is still there
    // for a reader to look at.
    const StepResult &fetched = outcome.failure;
    if (fetched.Ok() || fetched.stage == Stage::kNotAManifest ||
        fetched.verdict == SignatureVerdict::kExpired)
        outcome.localManifest = localIni;
    if (!fetched.Ok() || stopped()) return;
    // Under the controllable export's rules the selection and the package
    // step read the bytes fetched (and verified), never the stored copy that
    // another check may replace meanwhile; CheckNewVersion reads the stored
    // copy as it always has.
    const CManifestReader manifest =
        rules.Strict() || rules.keys ? served : CManifestReader(outcome.localManifest);
    if (!SelectCheckPackage(manifest, request, options, place.localDir, rules, outcome)) return;
    if (stopped()) return;
    PackageStepReport report;
    const PackageStepRequest package{manifest, outcome.section, place.server, place.localDir,
                                     rules,    buffer.get()};
    outcome.failure = FetchPackage(package, report);
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

int32_t FinishCheck(const CheckOutcome &outcome, char *buffer, size_t bufferSize) {
    const StepResult failure = FinalFailure(outcome, bufferSize);
    if (buffer && !outcome.pathForHost.empty() && outcome.pathForHost.size() < bufferSize)
        std::memcpy(buffer, outcome.pathForHost.c_str(), outcome.pathForHost.size() + 1);
    if (!failure.Ok()) return ResultOf(failure);
    if (outcome.available) return MARVOSTELL_AVAILABLE;
    return outcome.updated ? MARVOSTELL_UPDATED : MARVOSTELL_UP_TO_DATE;
}

}  // namespace marvostell
