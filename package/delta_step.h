// Smaller downloads of a package whose manifest is signed: a patch from an
// earlier package the local directory holds, or else the packed package.
// Either is checked before it is used, and its result is checked as the
// package itself would be, then moved into place under the package's name.
#pragma once

#include <string>

#include "framework/files.h"
#include "framework/step_result.h"
#include "package/delta_entry.h"
#include "package/package_entry.h"
#include "package/package_step.h"

namespace marvostell {

struct DeltaChoice {
    DeltaKind kind = DeltaKind::kNone;
    const PatchEntry *patch = nullptr;  // kPatch
    const ServedFile *file = nullptr;   // what is downloaded (kPatch or kPacked)
    CFileHandle base;                   // kPatch: the earlier package, open denying writers
};

// The first patch whose base is in the local directory with its size and
// SHA-256 (and that has not failed before), else the packed package, else
// none. Only a stop fails.
StepResult ChooseDelta(const PackageStepRequest &request, const std::string &localPath,
                       const DeltaOffer &offer, DeltaChoice &choice);

// The choice downloaded (resuming), checked and turned into the package at
// `localPath`. `fellBack` tells that it did not work out for a reason of its
// own (a file that fails its digest, a patch that does not apply, a result
// that fails the package's digests, a refused request): its files are gone
// and the whole package is the way. Otherwise the result is the step's: a
// success with the package in place, or a stop, a cut-off transfer or a
// local-file failure, after which a downloaded part stays for the next call.
StepResult FetchDelta(const PackageStepRequest &request, const PackageEntry &entry,
                      const std::string &localPath, DeltaChoice &choice, bool &fellBack,
                      PackageStepReport &report);

// The local name of the download for `kind`, beside the package.
std::string DeltaDownloadPath(const std::string &localPath, DeltaKind kind);

}  // namespace marvostell
