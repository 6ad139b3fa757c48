#include "package/delta_step.h"

#include "framework/strings.h"
#include "framework/trace.h"
#include "package/digest.h"
#include "package/packed_inflate.h"
#include "package/patch_apply.h"
#include "package/transfer.h"

namespace marvostell {
namespace {

void Tell(const PackageStepRequest &request, PackageEvent event) {
    if (request.rules.observer) request.rules.observer->OnPackageEvent(event);
}

CCallGuard *GuardOf(const PackageStepRequest &request) {
    return request.rules.control ? request.rules.control->guard : nullptr;
}

// Whether the open file, read from its start, has this size and SHA-256. A
// failure is a stop; a file that cannot be read is simply no match.
StepResult HasSizeAndSha256(const PackageStepRequest &request, HANDLE file, uint32_t size,
                            const std::string &sha256, bool &matches) {
    matches = false;
    SetLastError(ERROR_SUCCESS);
    const DWORD actual = GetFileSize(file, nullptr);
    if (actual != size || SetFilePointer(file, 0, nullptr, FILE_BEGIN) != 0) return StepResult::Success();
    FileDigests digests;
    const StepResult read =
        ReadFileDigests(file, request.buffer, kPackagePieceSize, true, GuardOf(request), digests);
    if (read.stage == Stage::kStopped) return read;
    matches = read.Ok() && EqualIgnoringAsciiCase(digests.sha256, sha256);
    return StepResult::Success();
}

// A patch whose result failed the package's check is kept aside under this
// name, and a patch with its digest is not tried again for the package.
std::string FailedPatchPath(const std::string &localPath) { return localPath + ".patch.err"; }

StepResult FailedBefore(const PackageStepRequest &request, const std::string &localPath,
                        const ServedFile &patch, bool &failed) {
    failed = false;
    CFileHandle kept(OpenLocalFile(FailedPatchPath(localPath).c_str(), GENERIC_READ, FILE_SHARE_READ,
                                   OPEN_EXISTING));
    if (!kept.IsOpen()) return StepResult::Success();
    return HasSizeAndSha256(request, kept.Get(), patch.size, patch.sha256, failed);
}

std::string DirectoryOf(const std::string &localPath) {
    return localPath.substr(0, localPath.find_last_of(kPathSeparators));
}

bool IsHttpStatus(const StepResult &result) {
    return result.stage == Stage::kPackageRequest && result.code >= 100 && result.code <= 599;
}

// What turns the download into the package, with the stop check between pieces.
DeltaResult MakePackage(const DeltaChoice &choice, HANDLE download, HANDLE output, uint32_t size,
                        CCallGuard *guard) {
    DeltaControl control;
    control.context = guard;
    control.stop = [](void *context) {
        return context && static_cast<CCallGuard *>(context)->Check() != StopReason::kNone;
    };
    if (choice.kind == DeltaKind::kPatch) return ApplyPatch(choice.base.Get(), download, output, size, control);
    return InflatePacked(download, output, size, control);
}

}  // namespace

std::string DeltaDownloadPath(const std::string &localPath, DeltaKind kind) {
    return localPath + (kind == DeltaKind::kPatch ? ".patch" : ".z");
}

StepResult ChooseDelta(const PackageStepRequest &request, const std::string &localPath,
                       const DeltaOffer &offer, DeltaChoice &choice) {
    const std::string directory = DirectoryOf(localPath);
    for (const PatchEntry &patch : offer.patches) {
        bool failed = false;
        StepResult checked = FailedBefore(request, localPath, patch.patch, failed);
        if (!checked.Ok()) return checked;
        if (failed) continue;
        // Denying writers keeps the base as it was checked until the patch is applied.
        const std::string basePath = directory + kPathSeparator + patch.from;
        choice.base.Reset(OpenLocalFile(basePath.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
        if (!choice.base.IsOpen()) continue;
        bool matches = false;
        checked = HasSizeAndSha256(request, choice.base.Get(), patch.fromSize, patch.fromSha256, matches);
        if (!checked.Ok()) return checked;
        if (!matches) continue;
        choice.kind = DeltaKind::kPatch;
        choice.patch = &patch;
        choice.file = &patch.patch;
        return StepResult::Success();
    }
    choice.base.Close();
    if (offer.packed) {
        choice.kind = DeltaKind::kPacked;
        choice.file = &offer.packedFile;
    }
    return StepResult::Success();
}

StepResult FetchDelta(const PackageStepRequest &request, const PackageEntry &entry,
                      const std::string &localPath, DeltaChoice &choice, bool &fellBack,
                      PackageStepReport &report) {
    fellBack = false;
    const ServedFile &served = *choice.file;
    const std::string downloadPath = DeltaDownloadPath(localPath, choice.kind);
    const std::string outputPath = localPath + ".new";
    PackageEvent chosen{PackageEvent::kDelta};
    chosen.path = served.path.c_str();
    chosen.localPath = downloadPath.c_str();
    chosen.movedTo = choice.patch ? choice.patch->from.c_str() : "";
    chosen.size = served.size;
    Tell(request, chosen);
    const auto fallBack = [&](const char *why) {
        Trace("Marvostell!%s: %s, the whole package instead\n", served.path.c_str(), why);
        PackageEvent event{PackageEvent::kDeltaFellBack};
        event.path = served.path.c_str();
        event.expected = why;
        Tell(request, event);
        DeleteFileA(outputPath.c_str());
        DeleteFileA(downloadPath.c_str());
        fellBack = true;
        return StepResult::Success();
    };

    uint32_t have = 0;
    if (!GetFileStatusSize(downloadPath.c_str(), have)) have = 0;
    report.downloadSize += have < served.size ? served.size - have : 0;
    // Keys come only with the controllable export's rules: the transfer is strict.
    const TransferRequest transfer{request.server, served.path,   downloadPath,
                                   served.size,    request.rules, request.buffer};
    bool complete = false;
    const StepResult transferred = TransferPackage(transfer, complete);
    if (IsHttpStatus(transferred)) return fallBack("the server refused it");
    if (!transferred.Ok()) return transferred;

    CFileHandle download(OpenLocalFile(downloadPath.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    if (!download.IsOpen()) return StepResult::Failure(Stage::kPackageFile, GetLastError());
    bool matches = false;
    const StepResult checked = HasSizeAndSha256(request, download.Get(), served.size, served.sha256, matches);
    if (!checked.Ok()) return checked;
    if (!matches) {
        download.Close();
        return fallBack("its size or SHA-256 does not match");
    }

    // Written under a name of its own and without sharing, so that no
    // reader ever takes a part for the package.
    DeleteFileA(outputPath.c_str());
    CFileHandle output(OpenLocalFile(outputPath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW));
    if (!output.IsOpen()) return StepResult::Failure(Stage::kPackageFile, GetLastError());
    const DeltaResult made = MakePackage(choice, download.Get(), output.Get(), entry.size, GuardOf(request));
    choice.base.Close();
    if (made.fault == DeltaFault::kStopped || made.fault == DeltaFault::kOutputWrite) {
        output.Close();
        DeleteFileA(outputPath.c_str());
        if (made.fault == DeltaFault::kOutputWrite) return StepResult::Failure(Stage::kPackageFile, made.code);
        return StoppedFailure(GuardOf(request)->Check());
    }
    bool resultFailed = !made.Ok();
    if (made.Ok()) {
        if (SetFilePointer(output.Get(), 0, nullptr, FILE_BEGIN) != 0)
            return StepResult::Failure(Stage::kPackageFile, GetLastError());
        DigestCheck digests{entry.md5, entry.sha256, request.buffer, kPackagePieceSize,
                            request.rules.observer};
        digests.guard = GuardOf(request);
        const StepResult verified = CheckDigests(output.Get(), outputPath.c_str(), digests);
        if (verified.stage == Stage::kStopped) {
            output.Close();
            DeleteFileA(outputPath.c_str());
            return verified;
        }
        resultFailed = !verified.Ok();
    }
    output.Close();
    download.Close();
    if (resultFailed) {
        // A patch signed as it is yet wrong inside fails the same way every
        // time: it is kept aside, and not tried again for this package.
        if (choice.kind == DeltaKind::kPatch && made.fault != DeltaFault::kBaseRead &&
            made.fault != DeltaFault::kBaseSize && made.fault != DeltaFault::kMemory) {
            DeleteFileA(FailedPatchPath(localPath).c_str());
            MoveFileA(downloadPath.c_str(), FailedPatchPath(localPath).c_str());
        }
        return fallBack(made.Ok() ? "its result does not match the package" : DeltaFaultText(made.fault));
    }
    if (!MoveFileA(outputPath.c_str(), localPath.c_str()))
        return fallBack("the package's name is taken");
    DeleteFileA(downloadPath.c_str());
    report.pathForHost = localPath;
    return StepResult::Success();
}

}  // namespace marvostell
