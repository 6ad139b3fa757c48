// Patches and the packed package, as CheckNewVersionEx with trusted keys reads
// them: the module's own ReadDeltaOffer decides what hosts use, and lint says
// why an entry it leaves out is left out.
#include <set>

#include "lint.h"
#include "manifest/manifest_fetch.h"
#include "manifest/manifest_reader.h"
#include "manifest/number.h"
#include "package/delta_entry.h"
#include "package/package_entry.h"
#include "package_name.h"
#include "text.h"

namespace marvostell::tools {
namespace {

constexpr char kSeparators[] = ", ;\t";

std::string Value(const CManifestReader &reader, const std::string &section, const char *key) {
    std::string value = reader.Value(section.c_str(), key, "");
    const size_t first = value.find_first_not_of(" \t");
    if (first == std::string::npos) return "";
    return value.substr(first, value.find_last_not_of(" \t") - first + 1);
}

// Why a file entry (Packed..., or Patch... of a patch section) is unusable, or empty.
std::string ServedFileFault(const CManifestReader &reader, const std::string &section, const std::string &prefix) {
    if (Value(reader, section, prefix.c_str()).empty()) return prefix + " is missing or empty";
    const std::string size = Value(reader, section, (prefix + "Size").c_str());
    const uint32_t n = ParseManifestNumber(size.c_str());
    if (n == 0 || n > kMaxPackageSize)
        return prefix + "Size=" + size + " is not a size from 1 to " + std::to_string(kMaxPackageSize);
    if (!IsSha256Text(Value(reader, section, (prefix + "Sha256").c_str())))
        return prefix + "Sha256 is not 64 hexadecimal digits";
    return "";
}

std::string BaseFault(const CManifestReader &reader, const std::string &section, const std::string &localName) {
    const std::string from = Value(reader, section, "From");
    if (from.empty()) return "From is missing or empty";
    if (SameName(from, localName)) return "From=" + from + " is the package itself";
    if (!RefusedNameReason(from).empty()) return "From=" + from + ": " + RefusedNameReason(from);
    if (from.find('/') != std::string::npos) return "From=" + from + " holds a \"/\": a base is a file of the local directory itself";
    if (from.size() > 4 && SameName(from.substr(from.size() - 4), ".err"))
        return "From=" + from + " is a file the module moved aside";
    const std::string size = Value(reader, section, "FromSize");
    const uint32_t n = ParseManifestNumber(size.c_str());
    if (n == 0 || n > kMaxPackageSize)
        return "FromSize=" + size + " is not a size from 1 to " + std::to_string(kMaxPackageSize);
    if (!IsSha256Text(Value(reader, section, "FromSha256"))) return "FromSha256 is not 64 hexadecimal digits";
    return ServedFileFault(reader, section, "Patch");
}

std::vector<std::string> ListedPatches(const CManifestReader &reader, const std::string &section) {
    const std::string list = reader.Value(section.c_str(), "Patches", "");
    std::vector<std::string> names;
    for (size_t at = list.find_first_not_of(kSeparators); at != std::string::npos;
         at = list.find_first_not_of(kSeparators, at)) {
        const size_t end = list.find_first_of(kSeparators, at);
        names.push_back(list.substr(at, end == std::string::npos ? end : end - at));
        at = end;
    }
    return names;
}

}  // namespace

std::set<std::string> LintDelta(const ManifestSource &source, const LineIndex &index,
                                const std::set<std::string> &packages, Findings &findings) {
    const CManifestReader reader(source.iniPath);
    std::set<std::string> patchSections, servedNames;
    // The files patches and packed packages are: a base that is one of them
    // would make a chain of patches.
    for (const ManifestSection &s : index.Sections())
        for (const char *key : {"Patch", "Packed"}) {
            const std::string path = Value(reader, s.name, key);
            if (!path.empty()) servedNames.insert(Lower(LocalNameOf(path)));
        }
    size_t patchBytes = 0, patchCount = 0;
    for (const std::string &package : packages) {
        const std::string name = index.Sections()[index.FindSection(package)].name;
        const PackageEntry entry = ReadPackageEntry(reader, name.c_str());
        const DeltaOffer offer = ReadDeltaOffer(reader, name.c_str(), entry.localName);
        const bool packedGiven = !reader.Value(name.c_str(), "Packed", "").empty() ||
                                 !reader.Value(name.c_str(), "PackedSize", "").empty() ||
                                 !reader.Value(name.c_str(), "PackedSha256", "").empty();
        if (packedGiven && !offer.packed)
            findings.Error(index.KeyLine(name, "Packed"), "packed-entry",
                           "[" + name + "]: " + ServedFileFault(reader, name, "Packed") +
                               ": hosts download Package instead of the packed package");
        else if (offer.packed && offer.packedFile.size >= entry.size && entry.size)
            findings.Warning(index.KeyLine(name, "PackedSize"), "packed-larger",
                             "[" + name + "]: the packed package is no smaller than Package: it saves nothing");
        const std::vector<std::string> listed = ListedPatches(reader, name);
        const int listLine = index.KeyLine(name, "Patches");
        if (listed.size() > kMaxPatches)
            findings.Warning(listLine, "patches-many", "Patches names " + std::to_string(listed.size()) +
                                                           " sections: hosts read the first " +
                                                           std::to_string(kMaxPatches));
        std::set<std::string> seen;
        for (size_t i = 0; i < listed.size() && i < kMaxPatches; ++i) {
            const std::string &patch = listed[i];
            if (!seen.insert(Lower(patch)).second) {
                findings.Warning(listLine, "patch-twice", "Patches names [" + patch + "] more than once");
                continue;
            }
            const int line = index.SectionLine(patch);
            if (index.FindSection(patch) < 0) {
                findings.Error(listLine, "patch-section",
                               "Patches names [" + patch + "], and there is no such section");
                continue;
            }
            patchSections.insert(Lower(patch));
            bool used = false;
            for (const PatchEntry &e : offer.patches) used = used || e.section == patch;
            const std::string from = Value(reader, patch, "From");
            if (!used) {
                const std::string fault = BaseFault(reader, patch, entry.localName);
                findings.Error(line, "patch-entry",
                               "[" + patch + "]: " + (fault.empty() ? "unusable" : fault) + ": hosts leave the patch out");
            } else if (packages.count(Lower(patch)) || !reader.Value(patch.c_str(), "Patches", "").empty() ||
                       !reader.Value(patch.c_str(), "Packed", "").empty() || servedNames.count(Lower(from))) {
                findings.Error(line, "patch-chain",
                               "[" + patch + "]: patches go one hop, from an earlier package to this one: " +
                                   (servedNames.count(Lower(from)) ? "From=" + from + " is a patch or packed file"
                                                                   : "a patch section is no package"));
            }
            if (used && entry.size && ParseManifestNumber(Value(reader, patch, "PatchSize").c_str()) >= entry.size)
                findings.Warning(index.KeyLine(patch, "PatchSize"), "patch-larger",
                                 "[" + patch + "]: the patch is no smaller than Package: it saves nothing");
        }
    }
    // What the patch sections cost of the bytes hosts read.
    for (const ManifestLine &line : index.Lines())
        if (line.section >= 0 && patchSections.count(Lower(index.Sections()[line.section].name)))
            patchBytes += line.value.size() + line.name.size() + 3;
    for (const ManifestSection &s : index.Sections()) patchCount += patchSections.count(Lower(s.name));
    if (source.fullKnown && source.fullText.size() > kManifestLimit && patchCount)
        findings.Error(0, "budget",
                       "the manifest is over " + std::to_string(kManifestLimit) + " bytes, and its " +
                           std::to_string(patchCount) + " patch sections take about " + std::to_string(patchBytes) +
                           " of them (each one about 240): leave out the largest patches");
    return patchSections;
}

}  // namespace marvostell::tools
