// The manifest checked as a host reads it: every finding with its line and a
// short reason. Errors make a host get no package, another package than the
// one written, or an error; warnings are style and risk.
#pragma once

#include <set>
#include <vector>

#include "findings.h"
#include "line_index.h"
#include "manifest/signature.h"
#include "manifest_source.h"

namespace marvostell::tools {

// What a host that passes trusted keys needs besides: Expires not passed and
// a Sha256 in every package (`forSigning`), and a valid signature by one of
// `keys` (when there are keys).
struct LintRules {
    bool forSigning = false;
    std::vector<PublicKey> keys;
};

Findings LintManifest(const ManifestSource &source, const LintRules &rules = LintRules());

// The two halves: the text's shape (encoding, line ends, the 4096-byte cut,
// duplicates, comments, lengths), and the values through the profile reader,
// the number rule and the selection.
void LintText(const ManifestSource &source, const LineIndex &index, Findings &findings);
void LintValues(const ManifestSource &source, const LineIndex &index, Findings &findings);

// Keys hosts never read in [General], the listed packages' sections and the
// range sections they name (lower-case names), with the nearest known key
// within kSuggestDistance edits; and range sections no package names.
constexpr size_t kSuggestDistance = 2;
void LintKeys(const LineIndex &index, const std::set<std::string> &packages, const std::set<std::string> &ranges,
              const std::set<std::string> &patches, Findings &findings);

// Packed and Patches of the listed packages (lower-case names) and the patch
// sections they name, judged by the module's own reading of them; what the
// patch sections cost of the bytes hosts read. Returns the patch sections
// named (lower case).
std::set<std::string> LintDelta(const ManifestSource &source, const LineIndex &index,
                                const std::set<std::string> &packages, Findings &findings);

// Why hosts that pass trusted keys would refuse the manifest (result 7), as
// errors: its signature (by `keys`; with none, only what shows without them:
// no signature line, one that is not last, a malformed one) and Expires.
void LintSignature(const ManifestSource &source, const LineIndex &index,
                   const std::vector<PublicKey> &keys, Findings &findings);
void LintExpiry(const ManifestSource &source, const LineIndex &index, Findings &findings);
// Every listed package's Sha256, which those hosts require (else result 5).
void LintSha256(const ManifestSource &source, const LineIndex &index, Findings &findings);

// The first reason LintSignature and LintExpiry give, or empty: for a note.
std::string SignedHostRefusal(const ManifestSource &source, const std::vector<PublicKey> &keys);

// Days since 1970-01-01 of today (UTC), and a day as "YYYY-MM-DD".
int64_t TodayUtc();
std::string DateText(int64_t days);

}  // namespace marvostell::tools
