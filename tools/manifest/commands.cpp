// entry, lint, explain and map.
#include "commands.h"

#include <cstdio>

#include "host_path.h"
#include "lint.h"
#include "manifest/manifest_reader.h"
#include "manifest/rollout.h"
#include "manifest_source.h"
#include "options.h"
#include "package/delta_entry.h"
#include "package/package_entry.h"
#include "package_file.h"
#include "package_name.h"
#include "selection_explain.h"
#include "text.h"
#include "usage.h"

namespace marvostell::tools {
namespace {

int UsageError(const char *command, const std::string &message) {
    std::fprintf(stderr, "marvostell-manifest %s: %s\n", command, message.c_str());
    std::fputs(UsageText(command), stderr);
    return kExitUsage;
}

int Refuse(const std::string &message) {
    std::fprintf(stderr, "marvostell-manifest entry: %s\n", message.c_str());
    return kExitFindings;
}

// Parses the options of a command that takes one manifest; prints usage or
// an error and returns false (with `status` set) when it cannot go on.
bool ParseManifestCommand(const char *command, const Arguments &args,
                          const std::set<std::string> &valueNames, const std::set<std::string> &flags,
                          Options &options, int &status) {
    std::string error;
    if (!ParseOptions(args, valueNames, flags, options, error)) {
        status = UsageError(command, error);
        return false;
    }
    if (options.help) {
        std::fputs(UsageText(command), stdout);
        status = kExitOk;
        return false;
    }
    if (options.positional.size() != 1) {
        status = UsageError(command, options.positional.empty() ? "no manifest given" : "one manifest only");
        return false;
    }
    return true;
}

bool Load(const char *command, const std::string &name, const WorkDir &dir, ManifestSource &source) {
    std::string error;
    if (LoadManifest(name, dir, source, error)) return true;
    std::fprintf(stderr, "marvostell-manifest %s: %s\n", command, error.c_str());
    return false;
}

// What hosts that pass trusted keys make of the manifest, for explain and
// map: with `keys`, whether those keys' hosts refuse it (`refused`); without,
// why any such host would. Empty when there is nothing to say.
std::string SignatureNote(const ManifestSource &source, const std::vector<PublicKey> &keys, bool &refused) {
    const std::string reason = SignedHostRefusal(source, keys);
    refused = !keys.empty() && !reason.empty();
    if (reason.empty()) return "";
    return (refused ? "refused by hosts that pass these trusted keys (result 7): "
                    : "note: hosts that pass trusted keys refuse this manifest (result 7): ") + reason;
}

// --host-id ID into `walk`: false with a message for a malformed identity.
bool HostIdOption(const Options &options, StagedWalk &walk, std::string &error) {
    const std::string *id = options.Value("--host-id");
    if (!id || ParseHostId(*id, walk.hostId)) return true;
    error = "--host-id " + *id + " is not 32 hexadecimal digits";
    return false;
}

// A range's answer in words: the package, and the Rollout tests that led to it.
std::string RangeAnswer(const VersionRange &r) {
    std::string text = r.hasSelection ? r.selected : "none";
    for (size_t i = 0; i < r.rollouts.size(); ++i) {
        const RolloutTest &t = r.rollouts[i];
        text += (i ? "; " : " (") + t.section + " staged, Rollout " + std::to_string(t.rollout) + "%" +
                (t.bucket == kNoBucket ? "" : ", bucket " + std::to_string(t.bucket)) +
                (t.admitted ? ", in the rollout" : ", not in the rollout");
    }
    return text + (r.rollouts.empty() ? "" : ")");
}

std::string RangesJson(const std::vector<VersionRange> &ranges) {
    std::string json = "[";
    for (size_t i = 0; i < ranges.size(); ++i) {
        const VersionRange &r = ranges[i];
        json += (i ? "," : "") + std::string("{\"low\":\"") + HexVersion(r.low) + "\",\"high\":\"" +
                HexVersion(r.high) + "\",\"selected\":" +
                (r.hasSelection ? JsonString(r.selected) : std::string("null")) +
                ",\"staged\":" + (r.staged ? "true" : "false") + ",\"rollouts\":[";
        for (size_t t = 0; t < r.rollouts.size(); ++t)
            json += (t ? "," : "") + std::string("{\"section\":") + JsonString(r.rollouts[t].section) + "," +
                    RolloutJson(r.rollouts[t].rollout, r.rollouts[t].bucket, r.rollouts[t].admitted) + "}";
        json += "]}";
    }
    return json + "]";
}

// The JSON object `json` with one more member first.
std::string WithMember(const std::string &json, const char *name, const std::string &note, bool raw = false) {
    return "{\"" + std::string(name) + "\":" + (note.empty() ? "null" : raw ? note : JsonString(note)) + "," +
           json.substr(1);
}

// What a host that selected `section` downloads: a patch when its local
// directory holds a base, else the packed package, else Package. Lines for
// people, or a JSON value (null when the package offers neither).
struct Downloads {
    std::vector<std::string> lines;
    std::string json = "null";
};

Downloads ExplainDownloads(const ManifestSource &source, const std::string &section) {
    Downloads out;
    const CManifestReader reader(HostPath(source.iniPath));
    const PackageEntry entry = ReadPackageEntry(reader, section.c_str());
    const DeltaOffer offer = ReadDeltaOffer(reader, section.c_str(), entry.localName);
    if (entry.fault != EntryFault::kNone || (offer.patches.empty() && !offer.packed)) return out;
    out.lines.push_back("download, with trusted keys (CheckNewVersionEx):");
    std::string patches;
    for (const PatchEntry &p : offer.patches) {
        out.lines.push_back("  hosts whose local directory holds " + p.from + " (" + std::to_string(p.fromSize) +
                            " bytes, SHA-256 " + Lower(p.fromSha256) + "): the patch [" + p.section + "], " +
                            std::to_string(p.patch.size) + " bytes");
        patches += (patches.empty() ? "" : ",") + std::string("{\"section\":") + JsonString(p.section) +
                   ",\"from\":" + JsonString(p.from) + ",\"from_size\":" + std::to_string(p.fromSize) +
                   ",\"from_sha256\":" + JsonString(Lower(p.fromSha256)) + ",\"path\":" + JsonString(p.patch.path) +
                   ",\"size\":" + std::to_string(p.patch.size) + "}";
    }
    const std::string others = offer.patches.empty() ? "  every host: " : "  the others: ";
    if (offer.packed)
        out.lines.push_back(others + "the packed package " + offer.packedFile.path + ", " +
                            std::to_string(offer.packedFile.size) + " bytes");
    else
        out.lines.push_back(others + "Package, " + std::to_string(entry.size) + " bytes");
    out.lines.push_back("  a patch or packed file that fails its check gives way to Package, " +
                        std::to_string(entry.size) + " bytes; hosts without trusted keys fetch Package");
    out.json = "{\"patches\":[" + patches + "],\"packed\":" +
               (offer.packed ? "{\"path\":" + JsonString(offer.packedFile.path) +
                                   ",\"size\":" + std::to_string(offer.packedFile.size) + "}"
                             : std::string("null")) +
               ",\"package_size\":" + std::to_string(entry.size) + "}";
    return out;
}

}  // namespace

int RunEntry(const Arguments &args) {
    Options options;
    std::string error;
    if (!ParseOptions(args, {"--path", "--section", "--version"}, {"--json"}, options, error))
        return UsageError("entry", error);
    if (options.help) {
        std::fputs(UsageText("entry"), stdout);
        return kExitOk;
    }
    if (options.positional.size() != 1) return UsageError("entry", "one package file, please");
    const std::string *path = options.Value("--path");
    if (!path) return UsageError("entry", "--path /SERVER/PATH/NAME is required");
    uint32_t version = 0;
    const std::string *versionText = options.Value("--version");
    if (versionText && !ParseWholeNumber(*versionText, version))
        return UsageError("entry", "--version " + *versionText + " is not a number from 0 to 0xFFFFFFFF");

    std::string warning;
    std::string refusal = PathRefusal(*path, warning);
    if (!refusal.empty()) return Refuse(refusal);
    if (!warning.empty()) std::fprintf(stderr, "marvostell-manifest entry: warning: %s\n", warning.c_str());
    const std::string section = options.Value("--section") ? *options.Value("--section") : LocalNameOf(*path);
    refusal = SectionRefusal(section);
    if (!refusal.empty()) return Refuse(refusal);

    PackageFile file;
    const int status = ReadPackageFile(options.positional[0], file, error);
    if (status != kExitOk) {
        std::fprintf(stderr, "marvostell-manifest entry: %s\n", error.c_str());
        return status;
    }
    const std::string hexVersion = HexVersion(version);
    if (options.Has("--json")) {
        std::printf("{\"section\":%s,%s\"Package\":%s,\"PackageSize\":%llu,\"Md5\":\"%s\",\"Sha256\":\"%s\"}\n",
                    JsonString(section).c_str(), versionText ? ("\"version\":\"" + hexVersion + "\",").c_str() : "",
                    JsonString(*path).c_str(), static_cast<unsigned long long>(file.size), file.md5.c_str(),
                    file.sha256.c_str());
    } else {
        std::fputs(PackageSectionText(section, versionText ? &hexVersion : nullptr, *path, file).c_str(), stdout);
    }
    return kExitOk;
}

int RunLint(const Arguments &args) {
    Options options;
    int status = kExitOk;
    if (!ParseManifestCommand("lint", args, {"--trusted-key"}, {"--json", "--strict"}, options, status))
        return status;
    LintRules rules;
    std::string error;
    if (!TrustedKeyOptions(options, rules.keys, error)) return UsageError("lint", error);
    WorkDir dir;
    if (!dir.Create(error)) return UsageError("lint", error);
    ManifestSource source;
    if (!Load("lint", options.positional[0], dir, source)) return kExitUsage;
    Findings findings;
    if (!StatusFinding(source, findings)) findings = LintManifest(source, rules);
    if (options.Has("--json"))
        std::printf("{\"manifest\":%s,\"errors\":%d,\"warnings\":%d,\"findings\":%s}\n",
                    JsonString(source.name).c_str(), findings.Count(Severity::kError),
                    findings.Count(Severity::kWarning), FindingsJson(findings).c_str());
    else
        PrintFindingsText(stdout, source.name, findings);
    return findings.Failed(options.Has("--strict")) ? kExitFindings : kExitOk;
}

int RunExplain(const Arguments &args) {
    Options options;
    int status = kExitOk;
    if (!ParseManifestCommand("explain", args, {"--host-version", "--trusted-key", "--host-id"}, {"--json"}, options,
                              status))
        return status;
    std::vector<PublicKey> keys;
    std::string error;
    if (!TrustedKeyOptions(options, keys, error)) return UsageError("explain", error);
    StagedWalk walk;
    if (!HostIdOption(options, walk, error)) return UsageError("explain", error);
    const std::string *versionText = options.Value("--host-version");
    uint32_t version = 0;
    if (!versionText) return UsageError("explain", "--host-version V is required");
    if (!ParseWholeNumber(*versionText, version))
        return UsageError("explain", "--host-version " + *versionText + " is not a number from 0 to 0xFFFFFFFF");
    WorkDir dir;
    if (!dir.Create(error)) return UsageError("explain", error);
    ManifestSource source;
    if (!Load("explain", options.positional[0], dir, source)) return kExitUsage;
    bool refused = false;
    const std::string note = SignatureNote(source, keys, refused);
    // A host that refuses the manifest reads no package list.
    SelectionExplanation explanation;
    explanation.hostVersion = version;
    if (!refused) explanation = ExplainSelection(source.iniPath, version, 0, &walk);
    const Downloads downloads =
        explanation.hasSelection ? ExplainDownloads(source, explanation.selected) : Downloads();
    if (options.Has("--json")) {
        std::printf("%s\n", WithMember(WithMember(ExplanationJson(explanation), "signature", note), "download",
                                       downloads.json == "null" ? "" : downloads.json, true)
                                .c_str());
    } else {
        std::vector<std::string> lines = ExplanationLines(explanation);
        if (!note.empty()) lines.insert(lines.begin() + (refused ? 1 : 0), note);
        if (refused) lines.erase(lines.end() - 2);  // "the list ends": there was none
        lines.insert(lines.end(), downloads.lines.begin(), downloads.lines.end());
        for (const std::string &line : lines) std::printf("%s\n", line.c_str());
    }
    return kExitOk;
}

int RunMap(const Arguments &args) {
    Options options;
    int status = kExitOk;
    if (!ParseManifestCommand("map", args, {"--trusted-key", "--host-id"}, {"--json"}, options, status)) return status;
    std::vector<PublicKey> keys;
    std::string error;
    if (!TrustedKeyOptions(options, keys, error)) return UsageError("map", error);
    StagedWalk walk;
    if (!HostIdOption(options, walk, error)) return UsageError("map", error);
    const bool forHost = options.Value("--host-id") != nullptr;
    WorkDir dir;
    if (!dir.Create(error)) return UsageError("map", error);
    ManifestSource source;
    if (!Load("map", options.positional[0], dir, source)) return kExitUsage;
    bool refused = false;
    const std::string note = SignatureNote(source, keys, refused);
    // Refused, the whole version space gets nothing. Without an identity,
    // the hosts in no rollout (and those of CheckNewVersion) get the first
    // map, those in every rollout the second.
    const std::vector<VersionRange> nothing(1, VersionRange{0, 0xFFFFFFFFu, false, "", false, {}});
    const std::vector<VersionRange> ranges =
        refused ? nothing : MapSelection(source.iniPath, 0, forHost ? &walk : nullptr);
    StagedWalk every;
    every.everyRollout = true;
    const bool staged = !refused && !forHost &&
                        !CManifestReader(HostPath(source.iniPath)).Value("General", "staged", "").empty();
    const std::vector<VersionRange> inRollouts = staged ? MapSelection(source.iniPath, 0, &every) : nothing;
    // Standard output holds only the ranges: the note goes beside them.
    if (!note.empty() && !options.Has("--json")) std::fprintf(stderr, "%s\n", note.c_str());
    if (options.Has("--json")) {
        const std::string json = "{\"ranges\":" + RangesJson(ranges) +
                                 ",\"rollout_ranges\":" + (staged ? RangesJson(inRollouts) : "null") + "}";
        std::printf("%s\n", WithMember(json, "signature", note).c_str());
    } else {
        for (const VersionRange &r : ranges)
            std::printf("%s-%s %s\n", HexVersion(r.low).c_str(), HexVersion(r.high).c_str(), RangeAnswer(r).c_str());
        if (staged) std::printf("hosts in the rollouts (CheckNewVersionEx):\n");
        for (const VersionRange &r : staged ? inRollouts : std::vector<VersionRange>())
            std::printf("%s-%s %s\n", HexVersion(r.low).c_str(), HexVersion(r.high).c_str(), RangeAnswer(r).c_str());
    }
    return kExitOk;
}

}  // namespace marvostell::tools
