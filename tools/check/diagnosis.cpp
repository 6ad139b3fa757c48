#include "diagnosis.h"

#include <cstdio>

#include "http/http_get.h"
#include "local_file.h"
#include "manifest/manifest_fetch.h"
#include "manifest/manifest_reader.h"
#include "manifest/rollout.h"
#include "manifest/signature.h"
#include "marvostell.h"
#include "options.h"
#include "package/package_entry.h"
#include "proxy.h"
#include "result_text.h"
#include "text.h"

using marvostell::CManifestReader;
using marvostell::kManifestLimit;
using marvostell::Stage;
using marvostell::tools::Lower;

namespace {

std::string ReadValue(const std::string &path, const char *section, const char *key,
                      const char *defaultValue) {
    return CManifestReader(path).Value(section, key, defaultValue);
}

// Printable text of a few bytes of a file, for people.
std::string Excerpt(const std::string &bytes, size_t limit) {
    std::string out;
    for (size_t i = 0; i < bytes.size() && out.size() < limit; ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\r' || c == '\n') break;
        if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The title of an HTML page, which for error pages names the status.
std::string HtmlTitle(const std::string &page) {
    const std::string lower = Lower(page);
    const std::string::size_type open = lower.find("<title>");
    if (open == std::string::npos) return "";
    const std::string::size_type close = lower.find("</title>", open);
    if (close == std::string::npos) return "";
    return Excerpt(page.substr(open + 7, close - open - 7), 80);
}

bool HasGeneralSection(const std::string &path) {
    char names[kManifestLimit];
    const DWORD length = GetPrivateProfileStringA(nullptr, nullptr, "", names, sizeof names,
                                                  path.c_str());
    for (DWORD at = 0; at < length && names[at];) {
        const std::string name = names + at;
        if (marvostell::tools::SameName(name, "General")) return true;
        at += static_cast<DWORD>(name.size()) + 1;
    }
    return false;
}

void DescribeDigestMismatch(const CallRecord &record, Diagnosis &out) {
    if (!record.entrySeen || !record.digestSeen) return;
    out.lines.push_back("package: [" + record.section + "] Package=" + record.packagePath);
    // The file the digest was computed of: moved aside, or left in place
    // when the rename failed.
    const bool moved = !record.movedTo.empty();
    const std::string rejected = moved ? record.movedTo : record.localPath;
    uint64_t size = 0;
    const bool haveFile = LocalFileSize(rejected, size);
    out.lines.push_back("expected MD5 (Md5): " + record.expectedMd5);
    out.lines.push_back("actual MD5:         " + record.computedMd5);
    out.lines.push_back("file size:          " +
                        (haveFile ? std::to_string(size) + " bytes" : std::string("unknown")));
    out.lines.push_back("PackageSize:        " + std::to_string(record.size) + " bytes");
    out.lines.push_back("rejected file:      " + rejected +
                        (!moved      ? " (not moved aside: the rename to .err failed)"
                         : haveFile ? ""
                                    : " (cannot be read)"));
    if (!haveFile) return;
    // Under CheckNewVersion's rules an error page is saved as the package.
    const uint32_t status = record.answerStatus;
    if (status && status != 200 && status != 206)
        out.lines.push_back("the server answered the package request with HTTP status " +
                            std::to_string(status) + " (path " + record.packagePath +
                            "): its answer was saved instead of the package");
    else if (size > record.size)
        out.lines.push_back("the file is longer than PackageSize: the server sent more than the "
                            "package (one that ignores byte ranges appends the whole file to a "
                            "partial one)");
    else if (size < record.size)
        out.lines.push_back("the file is shorter than PackageSize: the transfer ended early");
    else if (Lower(record.expectedMd5) == Lower(record.computedMd5))
        out.lines.push_back("the digests differ only in case: Md5 must be upper-case hexadecimal");
    else
        out.lines.push_back("the file has the declared size but other bytes: the manifest's Md5 "
                            "or the package on the server is wrong");
}

void DescribeInternetError(Stage stage, const CallRecord &record, Diagnosis &out) {
    if (record.server.empty()) return;
    std::string host;
    INTERNET_PORT port;
    marvostell::SplitHostPort(record.server, host, port);
    const bool package = stage == Stage::kPackageRequest;
    out.lines.push_back(std::string(package ? "package request" : "manifest request") +
                        " to host " + host + ", port " + std::to_string(port) + ", path " +
                        (package ? record.packagePath : record.object));
    for (const std::string &line : DescribeProxy(host)) out.lines.push_back(line);
}

// A 407 comes from the proxy between, not from the server.
void DescribeProxyRefusal(const CallRecord &record, Diagnosis &out) {
    if (record.server.empty()) return;
    std::string host;
    INTERNET_PORT port;
    marvostell::SplitHostPort(record.server, host, port);
    const std::string proxy = ProxyInUse(host);
    out.lines.push_back(proxy.empty()
                            ? "no proxy is set for " + host +
                                  ": the server itself answered 407 (Proxy Authentication Required)"
                            : "the proxy that asked for authentication: " + proxy);
    for (const std::string &line : DescribeProxy(host)) out.lines.push_back(line);
}

}  // namespace

std::vector<std::string> ManifestProblems(const std::string &path) {
    std::string bytes;
    if (!ReadLocalFile(path, bytes, kManifestLimit + 1)) return {path + " cannot be read"};
    if (bytes.empty())
        return {path + " is empty: the server sent no body, or stopped sending after the headers"};
    std::vector<std::string> problems;
    const std::string::size_type first = bytes.find_first_not_of(" \t\r\n");
    if (first != std::string::npos && bytes[first] == '<') {
        const std::string title = HtmlTitle(bytes);
        problems.push_back(path + " is an HTML page, not a manifest" +
                           (title.empty() ? "" : " (its title: \"" + title + "\")") +
                           ": the server answered with an error or other page");
    } else if (!HasGeneralSection(path)) {
        problems.push_back(path + " has no [General] section; it begins \"" +
                           Excerpt(bytes.substr(first == std::string::npos ? 0 : first), 60) +
                           "\"");
    } else if (ReadValue(path, "General", "update", "").empty()) {
        problems.push_back(path + " has no update list in [General] (update= is missing or empty)");
    }
    if (bytes.size() >= kManifestLimit)
        problems.push_back(path + " fills the " + std::to_string(kManifestLimit) +
                           " bytes the module reads: the manifest on the server is longer, and "
                           "what follows was never read");
    return problems;
}

// The core's entry rule decides; the text names the key and what it holds.
std::string PackageEntryFault(const std::string &manifestPath, const std::string &section) {
    using marvostell::EntryFault;
    const CManifestReader manifest(manifestPath);
    const char *name = section.c_str();
    const marvostell::PackageEntry entry = marvostell::ReadPackageEntry(manifest, name);
    const auto shown = [&](const char *key) {
        const std::string value = manifest.Value(name, key, "");
        return value.empty() ? std::string(key) + " is missing or empty"
                             : std::string(key) + "=" + value;
    };
    const std::string digits =
        std::to_string(marvostell::kMd5Chars) + " hexadecimal digits are needed";
    switch (entry.fault) {
    case EntryFault::kSize:
        return shown("PackageSize") + ": not a size from 1 to " +
               std::to_string(marvostell::kMaxPackageSize) + " bytes";
    case EntryFault::kMd5:
        if (manifest.Value(name, "Md5", "").empty()) return shown("Md5") + ": " + digits;
        return shown("Md5") + ": " + std::to_string(entry.md5.size()) + " characters where " +
               digits;
    case EntryFault::kLocalName:
        return shown("Package") + ": the module refuses the local file name \"" +
               entry.localName +
               "\" (empty, \".\", \"..\", a device name such as CON, a trailing dot or blank, "
               "the manifest's own name, or a character that file names cannot hold)";
    case EntryFault::kSha256:
        return shown("Sha256") + ": 64 hexadecimal digits are needed when hosts check signatures";
    case EntryFault::kNone:
        break;
    }
    return "Package, PackageSize and Md5 read as usable now: the manifest changed after the check";
}

namespace {

std::string VersionText(uint32_t version) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(version));
    return text;
}

}  // namespace

// Whether the check fetched a patch or packed file instead of the package
// and it did not give way to the whole package.
bool FetchingDelta(const CallRecord &record) { return record.deltaSize && record.deltaFellBack.empty(); }

// Where a stop or a broken transfer left its bytes.
const std::string &KeptPath(const CallRecord &record) {
    return FetchingDelta(record) ? record.deltaPath : record.localPath;
}

uint64_t KeptBytes(const CallRecord &record) {
    uint64_t size = 0;
    if (record.entrySeen && LocalFileSize(KeptPath(record), size)) return size;
    return 0;
}

namespace {

// Which check of a signed manifest failed.
std::string SignatureRefusal(marvostell::SignatureVerdict verdict, const std::string &manifestPath) {
    using marvostell::SignatureVerdict;
    switch (verdict) {
    case SignatureVerdict::kMissing:
        return "the manifest has no signature: its last line is no \";signature=\" line";
    case SignatureVerdict::kNotLast:
        return "the manifest's signature line is not its last line: lines were added after signing";
    case SignatureVerdict::kMalformed:
        return "the signature line does not hold 88 characters of base64 (64 bytes)";
    case SignatureVerdict::kNoKeyMatches:
        return "no trusted key signed these bytes: the manifest was changed after signing, or "
               "it was signed by a key that is not trusted";
    case SignatureVerdict::kExpired:
        return "the manifest expired on " +
               marvostell::CManifestReader(manifestPath).Value("General", "Expires", "?") +
               " (Expires in [General]): the publisher must sign it again";
    case SignatureVerdict::kUnavailable:
        return "this system's cryptography could not be loaded, so no signature can be checked";
    case SignatureVerdict::kValid:
        break;
    }
    return "the signature was refused";
}

}  // namespace

Diagnosis Diagnose(int result, const marvostell::CheckOutcome &outcome, const CallRecord &record) {
    // The failure as the host sees it, a path too long for its buffer included.
    const Stage stage = marvostell::FinalFailure(outcome, MARVOSTELL_PATH_BUFFER_SIZE).stage;
    ResultFacts facts;
    facts.packagePath = outcome.pathForHost.c_str();
    facts.keptBytes = KeptBytes(record);
    const ResultText described = DescribeResult(result, stage, facts);
    Diagnosis out{described.exitStatus, described.text, {}};
    switch (outcome.failure.stage) {
    case Stage::kNone:
        if (outcome.available) {
            out.lines.push_back("offered: [" + outcome.section + "] version " +
                                VersionText(outcome.version) + ", " +
                                std::to_string(outcome.packageSize) + " bytes");
            if (record.entrySeen) out.lines.push_back("it would be saved as " + record.localPath);
            break;
        }
        if (outcome.updated) {
            if (result == MARVOSTELL_UPDATED && record.entrySeen && record.requests == 0)
                out.headline = "verified: " + outcome.pathForHost +
                               " (already complete on disk: no bytes were fetched)";
            break;
        }
        if (result != MARVOSTELL_UP_TO_DATE) break;
        {
            const std::vector<std::string> problems = ManifestProblems(record.manifestPath);
            if (!problems.empty()) {
                out.exitStatus = kExitNoUsableManifest;
                out.headline = "no usable manifest: the module found nothing newer in what the "
                               "server sent";
                out.lines = problems;
            }
        }
        // The packages considered and why each was passed over, in the words
        // of marvostell-manifest explain.
        if (record.selection.listMissing) break;
        out.lines.push_back("the packages considered, step by step:");
        for (const std::string &line : marvostell::tools::ExplanationLines(record.selection))
            out.lines.push_back("  " + line);
        break;
    case Stage::kNotAManifest:
        out.lines = ManifestProblems(record.manifestPath);
        break;
    case Stage::kPackageEntry:
        if (record.selection.hasSelection)
            out.lines.push_back("package [" + record.selection.selected + "]: " +
                                PackageEntryFault(record.manifestPath, record.selection.selected));
        break;
    case Stage::kDigest:
        DescribeDigestMismatch(record, out);
        break;
    case Stage::kSignature:
        out.lines.push_back(SignatureRefusal(outcome.failure.verdict, record.manifestPath));
        break;
    case Stage::kManifestRequest:
    case Stage::kPackageRequest:
        if (described.exitStatus == 9 || described.exitStatus == 13)
            DescribeInternetError(outcome.failure.stage, record, out);
        else if (outcome.failure.code == 407)
            DescribeProxyRefusal(record, out);
        break;
    default:
        break;
    }
    // A patch or the packed package fetched (or offered) instead of the whole one.
    if (outcome.selected && outcome.delta != marvostell::DeltaKind::kNone && (outcome.updated || outcome.available)) {
        const uint32_t size = record.deltaSize ? record.deltaSize : outcome.downloadSize;
        const std::string how = outcome.delta == marvostell::DeltaKind::kPatch
                                    ? "patched from " + outcome.deltaBase
                                    : std::string("packed");
        out.lines.push_back((outcome.updated ? "" : "it would come ") + how + ": " + SizeText(size) +
                            " instead of " + SizeText(outcome.packageSize));
    }
    if (!record.deltaFellBack.empty())
        out.lines.push_back("the smaller download did not work out (" + record.deltaFellBack +
                            "): the whole package was fetched instead");
    // What the host would tell people of the package, and this host's buckets.
    if (outcome.selected) {
        const marvostell::PackageDetails &details = outcome.details;
        if (outcome.staged) out.lines.push_back("staged: a release offered to a share of hosts first");
        if (!details.displayVersion.empty()) out.lines.push_back("display version: " + details.displayVersion);
        if (!details.notesUrl.empty()) out.lines.push_back("release notes: " + details.notesUrl);
        if (details.critical) out.lines.push_back("critical: the manifest marks this update critical");
    }
    for (const marvostell::tools::PackageExplanation &p : record.selection.packages)
        if (p.rolloutTested && p.bucket != marvostell::kNoBucket)
            out.lines.push_back("staged [" + p.name + "]: Rollout " + std::to_string(p.rollout) +
                                "%, this host's bucket " + std::to_string(p.bucket) +
                                (p.admitted ? ": in the rollout" : ": not in the rollout"));
    // Where a stop or a broken transfer left the package, or the file fetched instead.
    if (facts.keptBytes &&
        (outcome.failure.stage == Stage::kStopped || outcome.failure.stage == Stage::kPackageRequest)) {
        const bool delta = FetchingDelta(record);
        const char *what = !delta ? "partial package: "
                           : record.deltaBase.empty() ? "partial packed package: " : "partial patch: ";
        out.lines.push_back(what + KeptPath(record) + ", " + std::to_string(facts.keptBytes) + " of " +
                            std::to_string(delta ? record.deltaSize : record.size) +
                            " bytes; the next check resumes it");
    }
    return out;
}
