// new: a whole manifest from package files, in priority order, with what
// people are told of each and the ranges that let every host reach the next
// release; linted, and signed when a key is given.
#include <algorithm>
#include <cstdio>
#include <map>
#include <set>

#include "atomic_file.h"
#include "commands.h"
#include "delta_make.h"
#include "lint.h"
#include "manifest/manifest_fetch.h"
#include "manifest/manifest_reader.h"
#include "options.h"
#include "package/package_entry.h"
#include "package_file.h"
#include "selection_explain.h"
#include "signing_key.h"
#include "text.h"
#include "usage.h"
#include "version_pattern.h"

namespace marvostell::tools {
namespace {

struct NewPackage {
    std::string file, section, path;
    uint32_t version = 0;
    PackageFile digests;
    bool staged = false;
    std::string keys;  // what follows the entry: the range, the details, Rollout
};

// The keys given per package as SECTION=VALUE (or SECTION alone), by
// lower-case section name; false with a message for a malformed one.
bool PerPackage(const Options &options, const char *name, bool valued, std::map<std::string, std::string> &out,
                std::string &error) {
    for (const std::string &given : options.Values(name)) {
        const size_t equals = valued ? given.find('=') : std::string::npos;
        if (valued && (equals == std::string::npos || equals == 0)) {
            error = std::string(name) + " " + given + " is not SECTION=VALUE";
            return false;
        }
        out[Lower(given.substr(0, equals))] = valued ? given.substr(equals + 1) : "1";
    }
    return true;
}

// Each package from --from-dir, its section named after its file.
bool FromDir(const Options &options, std::vector<NewPackage> &packages, std::string &error) {
    const std::string *dir = options.Value("--from-dir");
    const std::string *patternText = options.Value("--version-pattern");
    if (!dir && !patternText) return true;
    if (!dir || !patternText) {
        error = "--from-dir DIR and --version-pattern PATTERN go together";
        return false;
    }
    CVersionPattern pattern;
    std::vector<VersionedFile> files;
    std::vector<std::string> skipped;
    if (!pattern.Parse(*patternText, error) || !FilesByVersion(*dir, pattern, files, skipped, error)) return false;
    for (const std::string &name : skipped)
        std::fprintf(stderr, "marvostell-manifest new: %s does not fit the version pattern: left out\n", name.c_str());
    if (files.empty()) {
        error = "no file of " + *dir + " fits the version pattern " + *patternText;
        return false;
    }
    for (const VersionedFile &file : files) {
        NewPackage p;
        p.file = file.path;
        p.version = file.version;
        packages.push_back(p);
    }
    return true;
}

// What a signature line adds to a manifest, with room to spare.
constexpr size_t kSignatureRoom = 160;

int UsageError(const std::string &message) {
    std::fprintf(stderr, "marvostell-manifest new: %s\n", message.c_str());
    std::fputs(UsageText("new"), stderr);
    return kExitUsage;
}

int Fail(int status, const std::string &message) {
    std::fprintf(stderr, "marvostell-manifest new: %s\n", message.c_str());
    return status;
}

// FILE:VERSION[:SECTION], split from the right: FILE may hold ":" (C:\...).
bool ParsePackage(const std::string &packageArg, NewPackage &out) {
    size_t colon = packageArg.rfind(':');
    if (colon == std::string::npos || colon == 0) return false;
    std::string last = packageArg.substr(colon + 1);
    if (!ParseWholeNumber(last, out.version)) {
        out.section = last;
        const size_t before = packageArg.rfind(':', colon - 1);
        if (before == std::string::npos || before == 0 ||
            !ParseWholeNumber(packageArg.substr(before + 1, colon - before - 1), out.version))
            return false;
        colon = before;
    }
    out.file = packageArg.substr(0, colon);
    return true;
}

std::string BaseName(const std::string &file) {
    const size_t slash = file.find_last_of("/\\");
    return slash == std::string::npos ? file : file.substr(slash + 1);
}

// Ranges that let each release of the update list reach the hosts older
// than it: a package is for the hosts from the next older release's version
// up to its own, the oldest for every host older than it. Without them the
// newest package would take every host, and the others none.
void AddStepRanges(std::vector<NewPackage> &packages, std::set<std::string> &sections, std::string &ranges) {
    for (size_t i = 0; i < packages.size(); ++i) {
        NewPackage &p = packages[i];
        if (p.staged) continue;
        const NewPackage *older = nullptr;
        for (size_t j = i + 1; j < packages.size() && !older; ++j)
            if (!packages[j].staged && packages[j].version < p.version) older = &packages[j];
        if (!older) continue;
        std::string name = p.section + "-hosts";
        while (!sections.insert(Lower(name)).second) name += "-";
        p.keys += "Support=" + name + "\n";
        const uint32_t high = p.version - 1;
        ranges += "\n[" + name + "]\nver=" + HexVersion(older->version) +
                  (high == older->version ? "" : "-" + HexVersion(high)) + "\n";
    }
}

}  // namespace

int RunNew(const Arguments &args) {
    Options options;
    std::string error;
    KeySource key;
    if (!ParseOptions(args,
                      {"--package", "--path-prefix", "--key", "--key-env", "--passphrase-file", "--passphrase-env",
                       "--expires", "--output", "--order", "--from-dir", "--version-pattern", "--notes",
                       "--display-version", "--critical", "--staged", "--rollout", "--patch-from"},
                      {}, options, error) ||
        !KeyOptions(options, key, error))
        return UsageError(error);
    if (options.help) {
        std::fputs(UsageText("new"), stdout);
        return kExitOk;
    }
    std::vector<NewPackage> packages;
    if (!FromDir(options, packages, error)) return UsageError(error);
    const std::vector<std::string> packageArgs = options.Values("--package");
    const std::string *prefixOption = options.Value("--path-prefix");
    if ((packageArgs.empty() && packages.empty()) || !prefixOption || !options.positional.empty())
        return UsageError("--package FILE:VERSION[:SECTION] (one or more) or --from-dir, and --path-prefix /PATH/, "
                          "please");
    std::string prefix = *prefixOption;
    if (prefix.empty() || prefix[0] != '/') return UsageError("--path-prefix must start with \"/\": " + prefix);
    if (prefix.back() != '/') prefix += '/';
    const std::string *order = options.Value("--order");
    if (order && *order != "newest" && *order != "given")
        return UsageError("--order is newest (the default) or given, not " + *order);
    uint32_t days = 0;
    const std::string *expires = options.Value("--expires");
    if (expires && (!ParseWholeNumber(*expires, days) || days == 0 || days > 36500))
        return UsageError("--expires " + *expires + " is not a number of days from 1 to 36500");
    const bool signing = !key.file.empty() || !key.variable.empty();
    if (expires && !signing) return UsageError("--expires goes with --key or --key-env");
    std::map<std::string, std::string> notes, displayVersions, critical, staged;
    if (!PerPackage(options, "--notes", true, notes, error) ||
        !PerPackage(options, "--display-version", true, displayVersions, error) ||
        !PerPackage(options, "--critical", false, critical, error) ||
        !PerPackage(options, "--staged", false, staged, error))
        return UsageError(error);
    uint32_t rollout = 0;
    const std::string *rolloutText = options.Value("--rollout");
    if (rolloutText && (!ParseWholeNumber(*rolloutText, rollout) || rollout > 100))
        return UsageError("--rollout " + *rolloutText + " is not a percentage from 0 to 100");
    if (staged.empty() != !rolloutText) return UsageError("--staged SECTION and --rollout N go together");

    for (const std::string &packageArg : packageArgs) {
        NewPackage p;
        if (!ParsePackage(packageArg, p))
            return UsageError("--package " + packageArg + " is not FILE:VERSION[:SECTION] with a VERSION from 0 to "
                              "0xFFFFFFFF");
        packages.push_back(p);
    }
    std::set<std::string> sections;
    for (NewPackage &p : packages) {
        p.path = prefix + BaseName(p.file);
        std::string warning;
        std::string refusal = PathRefusal(p.path, warning);
        if (!refusal.empty()) return Fail(kExitFindings, refusal);
        if (!warning.empty()) std::fprintf(stderr, "marvostell-manifest new: warning: %s\n", warning.c_str());
        if (p.section.empty()) p.section = LocalNameOf(p.path);
        refusal = SectionRefusal(p.section);
        if (!refusal.empty()) return Fail(kExitFindings, refusal);
        if (!sections.insert(Lower(p.section)).second)
            return Fail(kExitFindings, "two packages in the section [" + p.section + "]: give one a :SECTION");
        const int status = ReadPackageFile(p.file, p.digests, error);
        if (status != kExitOk) return Fail(status, error);
        p.staged = staged.erase(Lower(p.section)) != 0;
    }
    for (const auto &given : {&notes, &displayVersions, &critical, &staged})
        for (const auto &entry : *given)
            if (!sections.count(entry.first))
                return Fail(kExitUsage, "no package in the section [" + entry.first + "]");
    // Hosts take the first package they may have: the newest goes first.
    const bool newest = !order || *order == "newest";
    if (newest)
        std::stable_sort(packages.begin(), packages.end(),
                         [](const NewPackage &a, const NewPackage &b) { return a.version > b.version; });
    std::string ranges;
    if (newest) AddStepRanges(packages, sections, ranges);

    std::vector<NewPatch> patches;
    NewPackage *patched = nullptr;
    if (const std::string *patchFrom = options.Value("--patch-from")) {
        // The package published now: the newest.
        patched = &*std::max_element(packages.begin(), packages.end(),
                                     [](const NewPackage &a, const NewPackage &b) { return a.version < b.version; });
        CVersionPattern pattern;
        const std::string *patternText = options.Value("--version-pattern");
        if (patternText && !pattern.Parse(*patternText, error)) return UsageError(error);
        if (!PatchesFromDir(*patchFrom, patched->file, patched->version, patternText ? &pattern : nullptr, prefix,
                            sections, patches, error))
            return Fail(kExitUsage, error);
        if (patches.empty()) std::fprintf(stderr, "marvostell-manifest new: no patch from %s\n", patchFrom->c_str());
        else if (!signing)
            std::fprintf(stderr, "marvostell-manifest new: note: only hosts that pass trusted keys use patches: "
                                 "sign the manifest (--key)\n");
    }

    std::string list, stagedList, body;
    for (NewPackage &p : packages) {
        const std::string lower = Lower(p.section);
        if (displayVersions.count(lower)) p.keys += "DisplayVersion=" + displayVersions[lower] + "\n";
        if (notes.count(lower)) p.keys += "Notes=" + notes[lower] + "\n";
        if (critical.count(lower)) p.keys += "Critical=1\n";
        if (p.staged) p.keys += "Rollout=" + std::to_string(rollout) + "\n";
        std::string &names = p.staged ? stagedList : list;
        names += (names.empty() ? "" : ", ") + p.section;
        const std::string version = HexVersion(p.version);
        body += "\n" + PackageSectionText(p.section, &version, p.path, p.digests) + p.keys;
    }
    const std::string head = "[General]\nupdate=" + list + "\n" + (stagedList.empty() ? "" : "staged=" + stagedList + "\n");
    // Patch sections as long as the manifest stays within what hosts read,
    // the smallest patches first (a signature line takes about 130 bytes).
    const auto withPatches = [&](size_t count) {
        std::string names, sectionsText, packageBody = body;
        for (size_t i = 0; i < count; ++i) {
            names += (i ? ", " : "") + patches[i].section;
            sectionsText += "\n" + patches[i].made.text;
        }
        if (count) {
            const std::string entry = "Sha256=" + patched->digests.sha256 + "\n";
            const size_t at = packageBody.find(entry, packageBody.find("[" + patched->section + "]\n"));
            packageBody.insert(at + entry.size(), "Patches=" + names + "\n");
        }
        return head + packageBody + ranges + sectionsText;
    };
    // Hosts read Patches, as any value, up to the reader's buffer.
    const auto listFits = [&](size_t count) {
        size_t length = 0;
        for (size_t i = 0; i < count; ++i) length += patches[i].section.size() + (i ? 2 : 0);
        return length < kValueBufferSize;
    };
    size_t patchCount = patches.size();
    const size_t room = kManifestLimit - (signing ? kSignatureRoom : 0);
    while (patchCount && (withPatches(patchCount).size() > room || !listFits(patchCount))) {
        --patchCount;
        std::fprintf(stderr, "marvostell-manifest new: %s left out: %s\n", patches[patchCount].section.c_str(),
                     listFits(patchCount + 1) ? ("the manifest would be over " + std::to_string(room) + " bytes").c_str()
                                              : "Patches would be over the 254 characters hosts read");
    }
    patches.resize(patchCount);
    std::string text = withPatches(patchCount);
    const std::string output = options.Value("--output") ? *options.Value("--output") : "";
    const std::string name = output.empty() ? "(new manifest)" : output;

    WorkDir dir;
    ManifestSource source;
    if (!dir.Create(error) || !ManifestFromText(name, text, dir, source, error)) return Fail(kExitUsage, error);
    const Findings findings = LintManifest(source);
    if (!findings.List().empty()) PrintFindingsText(stderr, name, findings);
    if (findings.Failed(false)) return Fail(kExitFindings, "nothing written: fix the errors above first");

    if (signing) {
        std::string signedText, publicKey, expiry;
        const int status = SignText("new", name, text, key, days, signedText, publicKey, expiry);
        if (status != kExitOk) return status;
        text = signedText;
    }
    for (const NewPatch &patch : patches)
        if (!WriteReplacing(patch.file, patch.made.bytes, error)) return Fail(kExitUsage, error);
    if (output.empty()) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return std::fflush(stdout) == 0 ? kExitOk : Fail(kExitUsage, "cannot write standard output");
    }
    if (!WriteReplacing(output, text, error)) return Fail(kExitUsage, error);
    return kExitOk;
}

}  // namespace marvostell::tools
