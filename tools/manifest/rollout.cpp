// rollout: a staged package's share of hosts changed, or the package moved
// into the update list once every host may have it; linted, and signed
// again when the manifest was signed.
#include <cstdio>

#include "atomic_file.h"
#include "commands.h"
#include "lint.h"
#include "line_index.h"
#include "options.h"
#include "selection_explain.h"
#include "signing_key.h"
#include "signed_text.h"
#include "text.h"
#include "usage.h"

namespace marvostell::tools {
namespace {

int UsageError(const std::string &message) {
    std::fprintf(stderr, "marvostell-manifest rollout: %s\n", message.c_str());
    std::fputs(UsageText("rollout"), stderr);
    return kExitUsage;
}

int Fail(int status, const std::string &message) {
    std::fprintf(stderr, "marvostell-manifest rollout: %s\n", message.c_str());
    return status;
}

// The names of a list value, split where hosts split them.
std::vector<std::string> ListNames(const std::string &value) {
    std::vector<std::string> names;
    size_t at = 0;
    while ((at = value.find_first_not_of(",; \t", at)) != std::string::npos) {
        const size_t end = value.find_first_of(",; \t", at);
        names.push_back(value.substr(at, end - at));
        at = end;
    }
    return names;
}

std::string JoinNames(const std::vector<std::string> &names) {
    std::string list;
    for (const std::string &name : names) list += (list.empty() ? "" : ", ") + name;
    return list;
}

// The value of [General]'s first `key` as written, or empty.
std::string GeneralValue(const LineIndex &index, const char *key) {
    const int general = index.FindSection("General");
    for (const ManifestLine &line : index.Lines())
        if (general >= 0 && line.section == general && line.kind == ManifestLine::kKey && SameName(line.name, key))
            return line.value;
    return "";
}

// The package moved from the staged list to the front of the update list
// (hosts take the first package they may have), its Rollout dropped.
bool Finish(const std::string &text, const std::string &section, std::string &out) {
    const LineIndex index(text);
    std::vector<std::string> staged;
    for (const std::string &name : ListNames(GeneralValue(index, "staged")))
        if (!SameName(name, section)) staged.push_back(name);
    std::vector<std::string> update = ListNames(GeneralValue(index, "update"));
    update.insert(update.begin(), section);
    std::string edited = staged.empty() ? WithoutKey(text, "General", "staged") : text;
    if (!staged.empty() && !WithKey(edited, "General", "staged", JoinNames(staged), edited)) return false;
    if (!WithKey(edited, "General", "update", JoinNames(update), edited)) return false;
    out = WithoutKey(edited, section, "Rollout");
    return true;
}

}  // namespace

int RunRollout(const Arguments &args) {
    Options options;
    std::string error;
    KeySource key;
    if (!ParseOptions(args,
                      {"--percent", "--key", "--key-env", "--passphrase-file", "--passphrase-env", "--expires",
                       "--output"},
                      {"--finish"}, options, error) ||
        !KeyOptions(options, key, error))
        return UsageError(error);
    const bool signing = !key.file.empty() || !key.variable.empty();
    if (options.help) {
        std::fputs(UsageText("rollout"), stdout);
        return kExitOk;
    }
    const std::string *percentText = options.Value("--percent");
    const bool finish = options.Has("--finish");
    if (options.positional.size() != 2 || (percentText != nullptr) == finish)
        return UsageError("MANIFEST SECTION, and --percent N or --finish, please");
    uint32_t percent = 0;
    if (percentText && (!ParseWholeNumber(*percentText, percent) || percent > 100))
        return UsageError("--percent " + *percentText + " is not a percentage from 0 to 100");
    uint32_t days = 0;
    const std::string *expires = options.Value("--expires");
    if (expires && (!ParseWholeNumber(*expires, days) || days == 0 || days > 36500))
        return UsageError("--expires " + *expires + " is not a number of days from 1 to 36500");
    if (expires && !signing) return UsageError("--expires goes with --key or --key-env");
    const std::string &name = options.positional[0];
    const std::string &section = options.positional[1];
    if (IsUrl(name)) return UsageError("change a manifest file, then upload it");

    std::string text;
    if (!ReadFileText(name, text)) return Fail(kExitUsage, "cannot read " + name);
    const LineIndex index(text);
    bool listed = false;
    for (const std::string &entry : ListNames(GeneralValue(index, "staged")))
        listed = listed || SameName(entry, section);
    if (!listed) return Fail(kExitFindings, "[" + section + "] is not in the staged list of [General]");
    if (index.FindSection(section) < 0) return Fail(kExitFindings, "there is no [" + section + "] section");
    const bool wasSigned = text.find(kSignaturePrefix) != std::string::npos;
    if (wasSigned && !signing)
        return Fail(kExitFindings, name + " is signed: give --key to sign it again, or hosts that pass keys refuse it");

    std::string edited;
    if (finish ? !Finish(text, section, edited) : !WithKey(text, section, "Rollout", std::to_string(percent), edited))
        return Fail(kExitFindings, name + " has no [General]");
    int notLast = 0;
    edited = WithoutSignature(edited, notLast);
    WorkDir dir;
    ManifestSource source;
    if (!dir.Create(error) || !ManifestFromText(name, edited, dir, source, error)) return Fail(kExitUsage, error);
    const Findings findings = LintManifest(source);
    if (!findings.List().empty()) PrintFindingsText(stderr, name, findings);
    if (findings.Failed(false)) return Fail(kExitFindings, "nothing written: fix the errors above first");
    if (signing) {
        std::string signedText, publicKey, expiry;
        const int status = SignText("rollout", name, edited, key, days, signedText, publicKey, expiry);
        if (status != kExitOk) return status;
        edited = signedText;
    }
    const std::string output = options.Value("--output") ? *options.Value("--output") : name;
    if (!WriteReplacing(output, edited, error)) return Fail(kExitUsage, error);
    std::printf("%s: [%s] %s%s\n", output.c_str(), section.c_str(),
                finish ? "moved from the staged list to the front of the update list"
                       : ("staged to " + std::to_string(percent) + "% of hosts").c_str(),
                signing ? ", signed" : "");
    return kExitOk;
}

}  // namespace marvostell::tools
