#include "package/package_step.h"

#include "framework/files.h"
#include "framework/strings.h"
#include "framework/trace.h"
#include "package/delta_step.h"
#include "package/digest.h"
#include "package/package_entry.h"
#include "package/transfer.h"

namespace marvostell {
namespace {

void Tell(CCheckObserver *observer, const PackageEvent &event) {
    if (observer) observer->OnPackageEvent(event);
}

DigestCheck DigestCheckOf(const PackageStepRequest &request, const PackageEntry &entry) {
    const CheckRules &rules = request.rules;
    DigestCheck check{entry.md5, rules.keys ? entry.sha256 : std::string(), request.buffer,
                      kPackagePieceSize, rules.observer};
    check.guard = rules.control ? rules.control->guard : nullptr;
    return check;
}

// The package is read for its digest without read or write sharing, so no
// transfer can change it meanwhile, but with delete sharing, so that a file
// that fails can be moved aside before the handle is let go. The file moved
// is then always the one that was read, never a verified package that
// another check put in its place.
HANDLE OpenForDigest(const char *localPath) {
    return OpenLocalFile(localPath, GENERIC_READ, FILE_SHARE_DELETE, OPEN_EXISTING);
}

// The bytes a transfer asks for: those past the local file's end.
uint32_t MissingBytes(const std::string &localPath, uint32_t size) {
    uint32_t have = 0;
    if (!GetFileStatusSize(localPath.c_str(), have)) have = 0;
    return have < size ? size - have : 0;
}

// Check only: a package already complete and verified is ready; anything else
// is left as it is, and the package is on offer.
StepResult CheckWithoutRequest(const PackageStepRequest &request, const PackageEntry &entry,
                               const std::string &localPath, PackageStepReport &report) {
    uint32_t size = 0;
    const bool found = FindFileByName(localPath.c_str()) && GetFileStatusSize(localPath.c_str(), size);
    // A whole file that fails its digest is fetched again from its start.
    report.downloadSize = found && size < entry.size ? entry.size - size : entry.size;
    // A file another check holds (fetching or verifying it) is not here yet.
    CFileHandle file(found && size >= entry.size ? OpenForDigest(localPath.c_str())
                                                 : INVALID_HANDLE_VALUE);
    if (file.IsOpen()) {
        const StepResult verified =
            CheckDigests(file.Get(), localPath.c_str(), DigestCheckOf(request, entry));
        if (verified.Ok()) {
            report.pathForHost = localPath;
            report.downloadSize = 0;
        }
        if (verified.stage != Stage::kDigest) return verified;
    }
    report.available = true;
    if (!request.rules.keys || found) return StepResult::Success();
    const DeltaOffer offer = ReadDeltaOffer(request.manifest, request.section.c_str(), entry.localName);
    DeltaChoice choice;
    const StepResult chosen = ChooseDelta(request, localPath, offer, choice);
    if (!chosen.Ok() || choice.kind == DeltaKind::kNone) return chosen;
    report.delta = choice.kind;
    if (choice.patch) report.deltaBase = choice.patch->from;
    report.downloadSize = MissingBytes(DeltaDownloadPath(localPath, choice.kind), choice.file->size);
    return StepResult::Success();
}

// A package not begun yet may come as a patch or packed; false when it came
// neither way and the whole package is to be fetched.
bool FetchSmaller(const PackageStepRequest &request, const PackageEntry &entry,
                  const std::string &localPath, PackageStepReport &report, StepResult &result) {
    if (!request.rules.keys || FindFileByName(localPath.c_str())) return false;
    const DeltaOffer offer = ReadDeltaOffer(request.manifest, request.section.c_str(), entry.localName);
    DeltaChoice choice;
    result = ChooseDelta(request, localPath, offer, choice);
    if (!result.Ok()) return true;
    if (choice.kind == DeltaKind::kNone) return false;
    bool fellBack = false;
    result = FetchDelta(request, entry, localPath, choice, fellBack, report);
    if (fellBack) return false;
    report.delta = choice.kind;
    if (choice.patch) report.deltaBase = choice.patch->from;
    return true;
}

}  // namespace

StepResult FetchPackage(const PackageStepRequest &request, PackageStepReport &report) {
    std::string &pathForHost = report.pathForHost;
    const PackageEntry entry =
        ReadPackageEntry(request.manifest, request.section.c_str(), request.rules.keys != nullptr);
    report.size = entry.size;
    if (entry.fault != EntryFault::kNone) return StepResult::Failure(Stage::kPackageEntry, 0);
    const std::string localPath = request.localDir + kPathSeparator + entry.localName;
    Trace("Marvostell!Download(%s->%s, size %d)...\n", entry.path.c_str(), localPath.c_str(),
          static_cast<int>(entry.size));
    PackageEvent described{PackageEvent::kEntry};
    described.section = request.section.c_str();
    described.path = entry.path.c_str();
    described.localPath = localPath.c_str();
    described.size = entry.size;
    Tell(request.rules.observer, described);
    if (request.rules.checkOnly) return CheckWithoutRequest(request, entry, localPath, report);

    StepResult smaller;
    if (FetchSmaller(request, entry, localPath, report, smaller)) return smaller;
    const TransferRequest transfer{request.server, entry.path,    localPath,
                                   entry.size,     request.rules, request.buffer};
    const bool existedBefore = FindFileByName(localPath.c_str());
    const std::string rejectedPath = localPath + ".err";
    StepResult result = StepResult::Failure(Stage::kUnexpected, 0);
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool complete = false;
        report.downloadSize += MissingBytes(localPath, entry.size);
        const StepResult transferred = TransferPackage(transfer, complete);
        if (!transferred.Ok()) {
            if (request.rules.Strict()) return transferred;
            result = transferred;
            continue;
        }
        CFileHandle file(OpenForDigest(localPath.c_str()));
        if (!file.IsOpen()) {
            // Held by another opener (another check verifying or fetching
            // it), or gone: not a mismatch, and not this call's to move.
            return StepResult::Failure(Stage::kPackageFile, GetLastError());
        }
        const StepResult verified =
            CheckDigests(file.Get(), localPath.c_str(), DigestCheckOf(request, entry));
        if (verified.Ok()) pathForHost = localPath;
        // A digest that could not be computed, or a stop, is no mismatch:
        // the package stays as it is.
        if (verified.stage != Stage::kDigest) return verified;
        DeleteFileA(rejectedPath.c_str());
        if (MoveFileA(localPath.c_str(), rejectedPath.c_str())) {
            PackageEvent moved{PackageEvent::kMovedAside};
            moved.localPath = localPath.c_str();
            moved.movedTo = rejectedPath.c_str();
            Tell(request.rules.observer, moved);
        } else {
            // Left in place, the same bad file would fail every later call
            // without a new download: it goes, and the next call starts afresh.
            DeleteFileA(localPath.c_str());
        }
        file.Close();
        result = StepResult::Failure(Stage::kDigest, 0);
        if (!existedBefore) return result;
        pathForHost = localPath;
    }
    return result;
}

StepResult CheckDigests(HANDLE file, const char *localPath, const DigestCheck &check) {
    FileDigests actual;
    const StepResult read = ReadFileDigests(file, check.buffer, check.bufferSize,
                                            !check.sha256.empty(), check.guard, actual);
    if (!read.Ok()) return read;
    Trace("Marvostell!Md5:%s, Server:%s\n", actual.md5.c_str(), check.md5.c_str());
    PackageEvent event{PackageEvent::kDigest};
    event.localPath = localPath;
    event.computed = actual.md5.c_str();
    event.expected = check.md5.c_str();
    event.computedSha256 = actual.sha256.c_str();
    event.expectedSha256 = check.sha256.c_str();
    event.passed = actual.md5 == check.md5 &&
                   (check.sha256.empty() || EqualIgnoringAsciiCase(actual.sha256, check.sha256));
    Tell(check.observer, event);
    return event.passed ? StepResult::Success() : StepResult::Failure(Stage::kDigest, 0);
}

}  // namespace marvostell
