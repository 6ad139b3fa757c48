// new --patch-from: a patch from each earlier package of a folder to the
// package being published, made and checked as `patch` makes them.
#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "atomic_file.h"
#include "commands.h"
#include "delta_make.h"
#include "package_name.h"
#include "text.h"
#include "version_pattern.h"

namespace marvostell::tools {
namespace {

bool EndsWith(const std::string &name, const char *suffix) {
    const std::string end(suffix);
    return name.size() > end.size() && Lower(name.substr(name.size() - end.size())) == end;
}

// Files the tools and the module write beside packages: never a base.
bool IsSideFile(const std::string &name) {
    for (const char *suffix : {".patch", ".z", ".err", ".new", ".ini"})
        if (EndsWith(name, suffix)) return true;
    return false;
}

std::string Stem(const std::string &name) {
    const size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

void Note(const std::string &message) { std::fprintf(stderr, "marvostell-manifest new: %s\n", message.c_str()); }

}  // namespace

bool PatchesFromDir(const std::string &dir, const std::string &newFile, uint32_t newVersion,
                    const CVersionPattern *pattern, const std::string &prefix, std::set<std::string> &sections,
                    std::vector<NewPatch> &patches, std::string &error) {
    namespace fs = std::filesystem;
    std::error_code code;
    std::vector<std::string> names;
    for (fs::directory_iterator it(dir, code), end; !code && it != end; it.increment(code))
        if (it->is_regular_file()) names.push_back(it->path().filename().string());
    if (code) {
        error = "cannot read the folder " + dir + ": " + code.message();
        return false;
    }
    std::sort(names.begin(), names.end());
    const fs::path newPath(newFile);
    const std::string newName = newPath.filename().string();
    for (const std::string &name : names) {
        const std::string oldFile = (fs::path(dir) / name).string();
        uint32_t version = 0;
        if (IsSideFile(name) || SameName(name, newName) || SameFile(oldFile, newFile)) continue;
        if (pattern && (!pattern->Match(name, version) || version >= newVersion)) continue;
        const std::string refused = RefusedNameReason(name);
        if (!refused.empty()) {
            Note(name + ": no patch, hosts cannot name it as the base: " + refused);
            continue;
        }
        // The section is named after the file, which no other patch takes.
        NewPatch patch;
        const std::string stem = Stem(name) + "-to-" + Stem(newName);
        patch.section = stem + ".patch";
        for (int n = 2; !sections.insert(Lower(patch.section)).second; ++n)
            patch.section = stem + "-" + std::to_string(n) + ".patch";
        patch.file = (newPath.parent_path() / patch.section).string();
        const PatchWanted wanted{oldFile, newFile, name, prefix + fs::path(patch.file).filename().string(),
                                 patch.section};
        std::string why;
        if (MakePatchSection(wanted, patch.made, why) != kExitOk) {
            sections.erase(Lower(patch.section));
            Note("no patch from " + name + ": " + why);
            continue;
        }
        Note("a patch from " + name + ": " + patch.made.share);
        patches.push_back(std::move(patch));
    }
    std::stable_sort(patches.begin(), patches.end(), [](const NewPatch &a, const NewPatch &b) {
        return a.made.bytes.size() < b.made.bytes.size();
    });
    return true;
}

}  // namespace marvostell::tools
