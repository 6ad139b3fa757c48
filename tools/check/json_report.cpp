#include "json_report.h"

#include <cstdio>

#include "manifest/signature.h"
#include "marvostell.h"
#include "platform/error_names.h"

using marvostell::Stage;

namespace {

bool IsHttpStatus(uint32_t code) { return code >= 200 && code <= 599; }

struct Named {
    int code;
    const char *name;
};
const Named kNames[] = {
    {MARVOSTELL_UP_TO_DATE, "MARVOSTELL_UP_TO_DATE"},
    {MARVOSTELL_UPDATED, "MARVOSTELL_UPDATED"},
    {MARVOSTELL_AVAILABLE, "MARVOSTELL_AVAILABLE"},
    {MARVOSTELL_ERR_SOCKETS, "MARVOSTELL_ERR_SOCKETS"},
    {MARVOSTELL_ERR_BAD_URL, "MARVOSTELL_ERR_BAD_URL"},
    {MARVOSTELL_ERR_PACKAGE_ENTRY, "MARVOSTELL_ERR_PACKAGE_ENTRY"},
    {MARVOSTELL_ERR_DIGEST_MISMATCH, "MARVOSTELL_ERR_DIGEST_MISMATCH"},
    {MARVOSTELL_ERR_SIGNATURE, "MARVOSTELL_ERR_SIGNATURE"},
    {MARVOSTELL_ERR_NOT_A_MANIFEST, "MARVOSTELL_ERR_NOT_A_MANIFEST"},
    {MARVOSTELL_ERR_UNEXPECTED, "MARVOSTELL_ERR_UNEXPECTED"},
    {MARVOSTELL_CANCELLED, "MARVOSTELL_CANCELLED"},
    {MARVOSTELL_TIMED_OUT, "MARVOSTELL_TIMED_OUT"},
};

std::string Number(uint64_t value) { return std::to_string(value); }
std::string NumberOrNull(bool known, uint64_t value) { return known ? Number(value) : "null"; }
std::string StringOrNull(const std::string &text) {
    return text.empty() ? "null" : JsonString(text);
}

// The manifest's status where the outcome tells it: a refused request's
// code, or 200 for a manifest stored under CheckNewVersionEx's rules (the
// other export stores any answer's body).
// The status the manifest request's answer carried, as the check saw it.
std::string ManifestStatus(const CallRecord &record) {
    return NumberOrNull(record.manifestStatus != 0, record.manifestStatus);
}

// Why the signature was refused, for result 7; null for any other result.
std::string SignatureReason(const marvostell::CheckOutcome &outcome) {
    using marvostell::SignatureVerdict;
    if (outcome.failure.stage != Stage::kSignature) return "null";
    switch (outcome.failure.verdict) {
    case SignatureVerdict::kMissing: return "\"missing\"";
    case SignatureVerdict::kNotLast: return "\"not_last\"";
    case SignatureVerdict::kMalformed: return "\"malformed\"";
    case SignatureVerdict::kNoKeyMatches: return "\"no_key_matches\"";
    case SignatureVerdict::kExpired: return "\"expired\"";
    case SignatureVerdict::kUnavailable: return "\"unavailable\"";
    case SignatureVerdict::kValid: break;
    }
    return "null";
}

}  // namespace

std::string JsonString(const std::string &text) {
    std::string out = "\"";
    for (const char c : text) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", u);
            out += escaped;
        } else {
            out += c;  // UTF-8 passes as it is; other bytes are the system's
        }
    }
    return out + "\"";
}

std::string ResultName(int result, Stage stage) {
    const uint32_t code = static_cast<uint32_t>(result);
    if (stage == Stage::kArgument) return "ARGUMENT_ERROR";
    if (stage == Stage::kManifestRequest || stage == Stage::kPackageRequest) {
        const uint32_t error = code & 0x7FFFFFFFu;
        if (IsHttpStatus(error)) return "HTTP_STATUS";
        const char *name = marvostell::InternetErrorName(error);
        return *name ? name : "INTERNET_ERROR";
    }
    if (code & static_cast<uint32_t>(MARVOSTELL_LOCAL_FILE_FLAG)) return "LOCAL_FILE_ERROR";
    for (const Named &named : kNames)
        if (named.code == result) return named.name;
    return "UNKNOWN";
}

std::string JsonReport(const JsonFacts &facts, const marvostell::CheckOutcome &outcome,
                       const CallRecord &record) {
    const Stage stage = outcome.failure.stage;
    std::string out = "{\"result\":" + std::to_string(facts.result) +
                      ",\"result_name\":" + JsonString(ResultName(facts.result, stage)) +
                      ",\"exit_status\":" + std::to_string(facts.exitStatus) +
                      ",\"message\":" + JsonString(facts.message) +
                      ",\"manifest_status\":" + ManifestStatus(record) +
                      ",\"reason\":" + SignatureReason(outcome);
    out += ",\"rollouts\":[";
    bool first = true;
    for (const marvostell::tools::PackageExplanation &p : record.selection.packages) {
        if (!p.rolloutTested) continue;
        out += (first ? "" : ",") + std::string("{\"section\":") + JsonString(p.name) + "," +
               marvostell::tools::RolloutJson(p.rollout, p.bucket, p.admitted) + "}";
        first = false;
    }
    out += "]";
    out += ",\"package\":";
    if (outcome.selected) {
        char version[16];
        std::snprintf(version, sizeof version, "0x%08X", static_cast<unsigned>(outcome.version));
        out += "{\"section\":" + JsonString(outcome.section) + ",\"version\":" +
               JsonString(version) + ",\"size\":" + Number(outcome.packageSize) +
               ",\"staged\":" + (outcome.staged ? "true" : "false") +
               ",\"display_version\":" + StringOrNull(outcome.details.displayVersion) +
               ",\"notes_url\":" + StringOrNull(outcome.details.notesUrl) +
               ",\"critical\":" + (outcome.details.critical ? "true" : "false") + "}";
    } else {
        out += "null";
    }
    // The patch or packed package fetched (or offered) instead of the whole one.
    out += ",\"delta\":";
    if (outcome.selected && outcome.delta != marvostell::DeltaKind::kNone && (outcome.updated || outcome.available)) {
        const bool patch = outcome.delta == marvostell::DeltaKind::kPatch;
        out += std::string("{\"kind\":") + (patch ? "\"patch\"" : "\"packed\"") +
               ",\"base\":" + (patch ? JsonString(outcome.deltaBase) : "null") +
               ",\"download_size\":" + Number(record.deltaSize ? record.deltaSize : outcome.downloadSize) +
               ",\"package_size\":" + Number(outcome.packageSize) + "}";
    } else {
        out += "null";
    }
    out += ",\"delta_fell_back\":" + StringOrNull(record.deltaFellBack);
    const bool asked = record.requests != 0;
    out += ",\"package_status\":" + NumberOrNull(record.answerStatus != 0, record.answerStatus);
    out += ",\"range_start\":" + NumberOrNull(asked, record.requestFrom);
    out += ",\"bytes_received\":" + NumberOrNull(asked, record.received);
    out += ",\"digests\":";
    if (stage == Stage::kDigest && record.digestSeen) {
        out += "{\"expected_md5\":" + JsonString(record.expectedMd5) +
               ",\"computed_md5\":" + JsonString(record.computedMd5) +
               ",\"expected_sha256\":" + StringOrNull(record.expectedSha256) +
               ",\"computed_sha256\":" + StringOrNull(record.computedSha256) + "}";
    } else {
        out += "null";
    }
    out += ",\"err_path\":" + StringOrNull(record.movedTo);
    char elapsed[32];
    std::snprintf(elapsed, sizeof elapsed, "%.3f", facts.elapsedSeconds);
    out += ",\"elapsed_seconds\":" + std::string(elapsed);
    out += ",\"proxy\":" + StringOrNull(facts.proxy) + "}";
    return out;
}
