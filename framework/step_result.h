// What a step of the check did: nothing wrong, or the stage that failed and
// its code. The exports turn a failure into their one integer (entry/).
#pragma once

#include <cstdint>

namespace marvostell {

enum class Stage : uint8_t {
    kNone,             // no failure
    kSockets,          // the socket layer did not start
    kManifestUrl,      // the manifest URL names no path
    kLocalDirectory,   // no usable local directory; code: system error
    kManifestRequest,  // code: Internet or system error, or HTTP status 401/407
    kManifestFile,     // writing the local manifest; code: system error
    kPackageEntry,     // the selected package's entry is unusable
    kPackageRequest,   // code: Internet or system error of the package request
    kPackageFile,      // the local package file; code: system error
    kDigest,           // the package does not match its digest
    kHostBuffer,       // the package's path does not fit the host's buffer
    kUnexpected,       // an exception or a failure that gave no code
    // Stages of the controllable export only:
    kArgument,         // an option the host passed is unusable; code: system error
    kStopped,          // the host cancelled, or the deadline passed; code: 1223 or 1460
    kNotAManifest,     // a 200 answer without a [General] section
    kSignature,        // the manifest's signature cannot be accepted
};

struct StepResult {
    Stage stage = Stage::kNone;
    uint32_t code = 0;

    bool Ok() const { return stage == Stage::kNone; }
    static StepResult Success() { return {}; }
    static StepResult Failure(Stage stage, uint32_t code) { return {stage, code}; }
};

}  // namespace marvostell
