// Keys that hosts never read: a misspelt Support admits every host version.
#include <algorithm>
#include <vector>

#include "lint.h"
#include "text.h"

namespace marvostell::tools {
namespace {

const std::vector<std::string> kGeneralKeys = {"update", "staged", "Expires"};
const std::vector<std::string> kPackageKeys = {"version",  "language",       "Unsupport", "Support",
                                                "Package",  "PackageSize",    "Md5",       "Sha256",
                                                "Rollout",  "DisplayVersion", "Notes",     "Critical",
                                                "Packed",   "PackedSize",     "PackedSha256", "Patches"};
const std::vector<std::string> kPatchKeys = {"From", "FromSize", "FromSha256", "Patch", "PatchSize", "PatchSha256"};
const std::vector<std::string> kRangeKeys = {"lower", "greater", "ver"};

// Levenshtein distance, blind to the case of A-Z as the reader's lookups are.
size_t Distance(const std::string &a, const std::string &b) {
    const std::string x = Lower(a), y = Lower(b);
    std::vector<size_t> row(y.size() + 1);
    for (size_t j = 0; j <= y.size(); ++j) row[j] = j;
    for (size_t i = 1; i <= x.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= y.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (x[i - 1] == y[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[y.size()];
}

bool IsRangeKey(const std::string &key) {
    return SameName(key, "lower") || SameName(key, "greater") ||
           (key.size() >= 3 && SameName(key.substr(0, 3), "ver"));
}

// The nearest known key within two edits, or empty.
std::string Nearest(const std::string &key, const std::vector<const std::vector<std::string> *> &known) {
    std::string best;
    size_t bestDistance = kSuggestDistance + 1;
    for (const std::vector<std::string> *names : known)
        for (const std::string &name : *names) {
            const size_t d = Distance(key, name);
            if (d < bestDistance) best = name, bestDistance = d;
        }
    return best;
}

}  // namespace

void LintKeys(const LineIndex &index, const std::set<std::string> &packages, const std::set<std::string> &ranges,
              const std::set<std::string> &patches, Findings &findings) {
    const std::vector<ManifestSection> &sections = index.Sections();
    std::vector<bool> rangeOnly(sections.size(), true), hasKeys(sections.size(), false);
    for (const ManifestLine &line : index.Lines()) {
        if (line.kind != ManifestLine::kKey || line.section < 0) continue;
        const ManifestSection &section = sections[line.section];
        hasKeys[line.section] = true;
        rangeOnly[line.section] = rangeOnly[line.section] && IsRangeKey(line.name);
        // Hosts read only a name's first section; "#" keys have a finding of their own.
        if (!section.first || (!line.name.empty() && line.name[0] == '#')) continue;
        const std::string lowered = Lower(section.name);
        std::vector<const std::vector<std::string> *> known;
        if (lowered == "general") known.push_back(&kGeneralKeys);
        if (packages.count(lowered)) known.push_back(&kPackageKeys);
        if (ranges.count(lowered)) known.push_back(&kRangeKeys);
        if (patches.count(lowered)) known.push_back(&kPatchKeys);
        if (known.empty()) continue;  // a section hosts never look at
        bool read = false;
        for (const std::vector<std::string> *names : known)
            for (const std::string &name : *names) read = read || SameName(line.name, name);
        if (ranges.count(lowered)) read = read || IsRangeKey(line.name);
        if (read) continue;
        const std::string nearest = Nearest(line.name, known);
        findings.Warning(line.number, "unknown-key",
                         line.name + " in [" + section.name + "]: hosts never read this key" +
                             (nearest.empty() ? std::string() : "; did you mean " + nearest + "?"));
    }
    for (size_t s = 0; s < sections.size(); ++s) {
        const std::string lowered = Lower(sections[s].name);
        if (!sections[s].first || !hasKeys[s] || !rangeOnly[s] || lowered == "general" || packages.count(lowered) ||
            ranges.count(lowered) || patches.count(lowered))
            continue;
        findings.Warning(sections[s].line, "range-unused",
                         "[" + sections[s].name + "] holds a version range, and no package names it in "
                         "Support or Unsupport: hosts never read it");
    }
}

}  // namespace marvostell::tools
