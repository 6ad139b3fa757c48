// What a step of the check did: nothing wrong, or the stage that failed and
// its code. The exports turn a failure into their one integer (entry/).
#pragma once

#include <cstdint>

#include "marvostell.h"

namespace marvostell {

// Each stage a check can fail at, once: its name, the result both exports
// return for it, and its text for people. The result is a fixed one of the
// header's, or the step's code: as it is (kAsCode: an Internet or system
// error, an HTTP status 401/407, or 1223/1460 for a stop) or with
// MARVOSTELL_LOCAL_FILE_FLAG (kLocalCode: a local file, or a package request).
// The stages from kArgument on come from the controllable export only.
#define MARVOSTELL_STAGES(X)                                                                     \
    X(kNone, MARVOSTELL_UP_TO_DATE, "no failure")                                                \
    X(kSockets, MARVOSTELL_ERR_SOCKETS, "the socket layer cannot be started")                    \
    X(kManifestUrl, MARVOSTELL_ERR_BAD_URL, "bad URL: no \"/\" after the host name")             \
    X(kLocalDirectory, kLocalCode, "the local directory cannot be used")                         \
    X(kManifestRequest, kAsCode, "the manifest request failed")                                  \
    X(kManifestFile, kLocalCode, "the local manifest cannot be written")                         \
    X(kPackageEntry, MARVOSTELL_ERR_PACKAGE_ENTRY,                                               \
      "the manifest's package entry cannot be used (Package, PackageSize or Md5)")               \
    X(kPackageRequest, kLocalCode, "the package request failed")                                 \
    X(kPackageFile, kLocalCode, "the local package file cannot be used")                         \
    X(kDigest, MARVOSTELL_ERR_DIGEST_MISMATCH,                                                   \
      "the package does not match its MD5 digest (moved aside as .err)")                         \
    X(kHostBuffer, kLocalCode, "the package's path does not fit the host's buffer")              \
    X(kUnexpected, MARVOSTELL_ERR_UNEXPECTED, "unexpected failure inside the module")            \
    X(kArgument, kAsCode, "an option the host passed is unusable")                               \
    X(kStopped, kAsCode, "the host cancelled, or the deadline passed")                           \
    X(kNotAManifest, MARVOSTELL_ERR_NOT_A_MANIFEST,                                              \
      "the server's answer is not a manifest (no [General] section)")                            \
    X(kSignature, MARVOSTELL_ERR_SIGNATURE, "the manifest's signature cannot be accepted")

enum class Stage : uint8_t {
#define MARVOSTELL_STAGE_NAME(stage, result, text) stage,
    MARVOSTELL_STAGES(MARVOSTELL_STAGE_NAME)
#undef MARVOSTELL_STAGE_NAME
};

// The result rules that are no fixed result: the step's code as it is, or
// with the local-file flag. No result of the header's has either value.
inline constexpr int32_t kAsCode = INT32_MIN;
inline constexpr int32_t kLocalCode = INT32_MIN + 1;

// The result rule of a stage, and its text.
int32_t ResultRuleOf(Stage stage);
const char *StageText(Stage stage);

// Why a manifest's signature is refused.
enum class SignatureVerdict : uint32_t {
    kValid = 0,
    kMissing,       // the last line is no signature line
    kNotLast,       // a signature line with more lines after it
    kMalformed,     // the signature is not 88 characters of base64 for 64 bytes
    kNoKeyMatches,  // no trusted key signed these bytes: changed, or another key's
    kExpired,       // Expires has passed (or cannot be read as a date)
    kUnavailable,   // the platform's cryptography could not be loaded
};

struct StepResult {
    Stage stage = Stage::kNone;
    uint32_t code = 0;
    SignatureVerdict verdict = SignatureVerdict::kValid;  // kSignature: why

    bool Ok() const { return stage == Stage::kNone; }
    static StepResult Success() { return {}; }
    static StepResult Failure(Stage stage, uint32_t code) { return {stage, code}; }
    static StepResult Refused(SignatureVerdict verdict) { return {Stage::kSignature, 0, verdict}; }
};

// The exports' result for a step's outcome, by its stage's rule.
int32_t ResultOf(const StepResult &result);

}  // namespace marvostell
