// new: a whole manifest from package files, in priority order, linted, and
// signed when a key is given.
#include <algorithm>
#include <cstdio>
#include <set>

#include "atomic_file.h"
#include "commands.h"
#include "lint.h"
#include "options.h"
#include "package/package_entry.h"
#include "package_file.h"
#include "selection_explain.h"
#include "signing_key.h"
#include "text.h"
#include "usage.h"

namespace marvostell::tools {
namespace {

struct NewPackage {
    std::string file, section, path;
    uint32_t version = 0;
    PackageFile digests;
};

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

}  // namespace

int RunNew(const Arguments &args) {
    Options options;
    std::string error;
    KeySource key;
    if (!ParseOptions(args, {"--package", "--path-prefix", "--key", "--key-env", "--passphrase-file",
                             "--passphrase-env", "--expires", "--output", "--order"},
                      {}, options, error) ||
        !KeyOptions(options, key, error))
        return UsageError(error);
    if (options.help) {
        std::fputs(UsageText("new"), stdout);
        return kExitOk;
    }
    const std::vector<std::string> packageArgs = options.Values("--package");
    const std::string *prefixOption = options.Value("--path-prefix");
    if (packageArgs.empty() || !prefixOption || !options.positional.empty())
        return UsageError("--package FILE:VERSION[:SECTION] (one or more) and --path-prefix /PATH/, please");
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

    std::vector<NewPackage> packages;
    std::set<std::string> sections;
    for (const std::string &packageArg : packageArgs) {
        NewPackage p;
        if (!ParsePackage(packageArg, p))
            return UsageError("--package " + packageArg + " is not FILE:VERSION[:SECTION] with a VERSION from 0 to "
                              "0xFFFFFFFF");
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
        packages.push_back(p);
    }
    // Hosts take the first package they may have: the newest goes first.
    if (!order || *order == "newest")
        std::stable_sort(packages.begin(), packages.end(),
                         [](const NewPackage &a, const NewPackage &b) { return a.version > b.version; });

    std::string list, body;
    for (const NewPackage &p : packages) {
        list += (list.empty() ? "" : ", ") + p.section;
        const std::string version = HexVersion(p.version);
        body += "\n" + PackageSectionText(p.section, &version, p.path, p.digests);
    }
    std::string text = "[General]\nupdate=" + list + "\n" + body;
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
    if (output.empty()) {
        std::fwrite(text.data(), 1, text.size(), stdout);
        return std::fflush(stdout) == 0 ? kExitOk : Fail(kExitUsage, "cannot write standard output");
    }
    if (!WriteReplacing(output, text, error)) return Fail(kExitUsage, error);
    return kExitOk;
}

}  // namespace marvostell::tools
