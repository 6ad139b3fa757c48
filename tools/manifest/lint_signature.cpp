// What hosts that pass trusted keys ask of a manifest besides: the signature
// line judged by the core's own verification on the bytes hosts read,
// Expires read as the core reads it, and a Sha256 in every package.
#include <cstdio>
#include <ctime>
#include <set>

#include "lint.h"
#include "manifest/manifest_reader.h"
#include "package/package_entry.h"
#include "selection_explain.h"
#include "text.h"

namespace marvostell::tools {
namespace {

const char kRefused[] = ": hosts that pass trusted keys refuse the manifest (result 7)";

bool IsSignatureLine(const std::string &text, const ManifestLine &line) {
    return text.compare(line.begin, sizeof kSignaturePrefix - 1, kSignaturePrefix) == 0;
}

// The line of the last signature line, or 0.
int LastSignatureLine(const std::string &text, const LineIndex &index) {
    int found = 0;
    for (const ManifestLine &line : index.Lines())
        if (IsSignatureLine(text, line)) found = line.number;
    return found;
}

// The first finding's message without what follows the reason.
std::string Reason(const Findings &findings) {
    if (findings.List().empty()) return "";
    const std::string &message = findings.List().front().message;
    return message.substr(0, message.find(kRefused));
}

}  // namespace

int64_t TodayUtc() { return static_cast<int64_t>(std::time(nullptr)) / 86400; }

std::string DateText(int64_t days) {
    // The civil date of a day count (proleptic Gregorian calendar).
    days += 719468;
    const int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t day = doy - (153 * mp + 2) / 5 + 1;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const int64_t year = yoe + era * 400 + (month <= 2);
    char text[64];
    std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld", static_cast<long long>(year),
                  static_cast<long long>(month), static_cast<long long>(day));
    return text;
}

void LintSignature(const ManifestSource &source, const LineIndex &index,
                   const std::vector<PublicKey> &keys, Findings &findings) {
    const std::string &text = source.hostText;
    const SignatureVerdict verdict =
        VerifyManifestSignature(reinterpret_cast<const uint8_t *>(text.data()), text.size(), keys);
    const int line = LastSignatureLine(source.readerText, index);
    switch (verdict) {
    case SignatureVerdict::kValid: return;
    case SignatureVerdict::kMissing: {
        const bool pastCut = source.fullText.size() > text.size() &&
                             source.fullText.find(std::string("\n") + kSignaturePrefix) != std::string::npos;
        findings.Error(0, "no-signature",
                       std::string(pastCut ? "the signature line lies past the " +
                                                 std::to_string(kManifestLimit) + " bytes hosts read"
                                           : "no signature line") + kRefused);
        return;
    }
    case SignatureVerdict::kNotLast:
        findings.Error(line, "signature-not-last",
                       std::string("a signature line that is not the last line (lines were added after "
                                   "signing)") + kRefused);
        return;
    case SignatureVerdict::kMalformed:
        findings.Error(line, "signature-malformed",
                       std::string("the signature is not 88 characters of base64 for 64 bytes") + kRefused);
        return;
    case SignatureVerdict::kNoKeyMatches:
        // Without keys a well-formed signature line is all that can be told.
        if (!keys.empty())
            findings.Error(line, "signature-mismatch",
                           std::string("changed after signing, or signed by another key: no trusted key "
                                       "matches the signature") + kRefused);
        return;
    case SignatureVerdict::kExpired:  // judged by LintExpiry
    case SignatureVerdict::kUnavailable:
        if (!keys.empty())
            findings.Error(line, "signature-unchecked",
                           "the platform's cryptography could not be loaded: the signature was not checked");
        return;
    }
}

void LintExpiry(const ManifestSource &source, const LineIndex &index, Findings &findings) {
    const CManifestReader manifest(source.iniPath);
    std::string value = manifest.Value("General", "Expires", "");
    value = ini::Trim(value);
    if (value.empty()) return;
    const int line = index.KeyLine("General", "Expires");
    if (!ManifestExpired(manifest)) return;
    int64_t expiry = 0;
    if (!ParseExpiryDate(value, expiry))
        findings.Error(line, "expires-format",
                       "Expires=" + value + " is not a date YYYY-MM-DD, so it counts as passed" + kRefused);
    else
        findings.Error(line, "expired", "expired on " + value + kRefused);
}

void LintSha256(const ManifestSource &source, const LineIndex &index, Findings &findings) {
    const CManifestReader reader(source.iniPath);
    std::set<std::string> done;
    for (const PackageExplanation &p : ExplainSelection(source.iniPath, 0xFFFFFFFFu, 0, &kEveryRollout).packages) {
        if (p.name.empty() || index.FindSection(p.name) < 0 || !done.insert(Lower(p.name)).second) continue;
        const std::string sha256 = ReadPackageEntry(reader, p.name.c_str()).sha256;
        if (sha256.empty())
            findings.Error(index.SectionLine(p.name), "no-sha256",
                           "no Sha256 in [" + p.name + "]: hosts that pass trusted keys and select it "
                           "end in error 5");
        else if (!IsSha256Text(sha256))
            findings.Error(index.KeyLine(p.name, "Sha256"), "sha256-format",
                           "malformed Sha256 in [" + p.name + "] (not 64 hexadecimal digits): hosts that "
                           "pass trusted keys and select it end in error 5");
    }
}

std::string SignedHostRefusal(const ManifestSource &source, const std::vector<PublicKey> &keys) {
    const LineIndex index(source.readerText);
    Findings findings;
    LintSignature(source, index, keys, findings);
    LintExpiry(source, index, findings);
    return Reason(findings);
}

}  // namespace marvostell::tools
