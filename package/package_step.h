// The package step: the selected package's entry, its local file, the
// transfer, the digest check and the second attempt.
#pragma once

#include <cstdint>
#include <string>

#include "framework/check_observer.h"
#include "framework/step_result.h"
#include "http/call_guard.h"
#include "http/check_rules.h"
#include "framework/manifest_values.h"
#include "platform/win32.h"

namespace marvostell {

// What a signed manifest's package may come as instead of the whole file.
enum class DeltaKind : uint8_t { kNone, kPatch, kPacked };

struct PackageStepRequest {
    const CManifestValues &manifest;
    std::string section;   // the selected package
    std::string server;    // the manifest's server, which serves the package too
    std::string localDir;  // without a trailing separator
    // Strict: a failed transfer is not retried. Check only: nothing is
    // requested, and the package is verified or `available`. With keys the
    // package must match its Sha256 as well as its Md5.
    const CheckRules &rules;
    BYTE *buffer;          // at least kPackagePieceSize bytes
};

struct PackageStepReport {
    uint32_t size = 0;        // PackageSize as read, usable or not
    std::string pathForHost;  // the path for the host's buffer, or empty
    bool available = false;   // check only: the package is offered and not yet here
    uint32_t downloadSize = 0;  // the bytes asked of the server (check only: that it would ask)
    DeltaKind delta = DeltaKind::kNone;  // what came (check only: would come) instead
    std::string deltaBase;  // kPatch: the earlier package's local name
};

// Fetches and verifies the package. Success leaves its local path in
// `pathForHost`. A mismatch of a file that was in the directory before the
// call is tried once more, and leaves the path there even if it then fails.
StepResult FetchPackage(const PackageStepRequest &request, PackageStepReport &report);

// What a package file must match, and what its digest check uses.
struct DigestCheck {
    std::string md5;     // the manifest's Md5, compared exactly
    std::string sha256;  // its Sha256, compared in either case; empty: not checked
    BYTE *buffer;        // the transfer buffer
    DWORD bufferSize;
    CCheckObserver *observer = nullptr;
    CCallGuard *guard = nullptr;  // asked between pieces of the file
};

// The digest check of an open package file, read from its start: success
// when it matches, kDigest when it does not. A digest that cannot be
// computed fails as ReadFileDigests says, and so does a stop.
StepResult CheckDigests(HANDLE file, const char *localPath, const DigestCheck &check);

}  // namespace marvostell
