// The values as hosts read them: through the profile reader, the number rule
// and the selection of the module's own core.
#include <cstring>
#include <fstream>
#include <set>

#include "lint.h"
#include "manifest/manifest_reader.h"
#include "manifest/number.h"
#include "manifest/package_details.h"
#include "package/package_entry.h"
#include "package_name.h"
#include "selection_explain.h"
#include "text.h"

namespace marvostell::tools {
namespace {

const char kMissing[] = "\x01";

// Where a ";" after a blank starts what its writer meant as a comment; the
// text reports it once, the checks here look at the value before it.
size_t CommentStart(const std::string &value) {
    for (size_t i = 1; i < value.size(); ++i)
        if (value[i] == ';' && (value[i - 1] == ' ' || value[i - 1] == '\t')) return i;
    return std::string::npos;
}

std::string WithoutComment(const std::string &value) {
    std::string v = value.substr(0, CommentStart(value));
    while (!v.empty() && (v.back() == ' ' || v.back() == '\t')) v.pop_back();
    return v;
}

class Reader {
public:
    explicit Reader(const std::string &ini) : m_ini(ini) {}
    // The value, or false when the key (or its section) is missing.
    bool Read(const std::string &section, const char *key, std::string &value) const {
        char buffer[kValueBufferSize];
        GetPrivateProfileStringA(section.c_str(), key, kMissing, buffer, kValueBufferSize, m_ini.c_str());
        value = buffer;
        return value != kMissing;
    }
    // The key names as hosts list them (at most 254 characters of them).
    std::vector<std::string> Keys(const std::string &section, DWORD size = kValueBufferSize) const {
        std::vector<char> buffer(size);
        const DWORD length = GetPrivateProfileStringA(section.c_str(), nullptr, "", buffer.data(), size,
                                                      m_ini.c_str());
        std::vector<std::string> keys;
        for (DWORD at = 0; at < length && buffer[at] != '\0'; at += static_cast<DWORD>(std::strlen(&buffer[at])) + 1)
            keys.push_back(&buffer[at]);
        return keys;
    }

private:
    std::string m_ini;
};

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

// One number as the module reads it, from `text`; `dashEnds` lets a "-"
// end it (the first number of a ver key). Sets `stop` to where reading ended.
uint32_t CheckNumber(const std::string &key, const char *text, bool dashEnds, int line,
                     Findings &findings, bool &usable, const char **stopOut = nullptr) {
    const char *stop = nullptr;
    const uint32_t n = ParseManifestNumber(text, &stop);
    if (stopOut) *stopOut = stop;
    usable = true;
    if (stop == text) {
        findings.Error(line, "not-a-number", key + "=" + text + " is not a number: hosts read 0");
        usable = false;
        return 0;
    }
    const std::string read = " is read as " + HexVersion(n) + " (" + std::to_string(n) + ")";
    const char *p = text;
    while (IsSpace(*p)) ++p;
    if (*p == '+' || *p == '-') ++p;
    if (p[0] == '0' && p[1] >= '0' && p[1] <= '9')
        findings.Error(line, "octal", key + "=" + std::string(text, stop) + read +
                                          ": a leading 0 means octal; write 0x for hexadecimal, "
                                          "or no leading zero");
    if (*stop == '\0' || (dashEnds && *stop == '-')) return n;
    const char *rest = stop;
    while (*rest == ' ' || *rest == '\t') ++rest;
    if (*rest == ';') return n;  // reported as a comment after the value
    if (*stop == '.' || *stop == ',' || (*stop >= '0' && *stop <= '9')) {
        findings.Error(line, "number-stops", key + "=" + text + read + ": reading stops at \"" +
                                                 std::string(1, *stop) + "\"");
        usable = false;
    } else if (!(dashEnds && *rest == '-')) {
        findings.Warning(line, "number-trailing",
                         key + "=" + text + read + "; \"" + stop + "\" is ignored");
    }
    return n;
}

class ValueLint {
public:
    ValueLint(const ManifestSource &source, const LineIndex &index, Findings &findings)
        : m_source(source), m_index(index), m_reader(source.iniPath), m_findings(findings) {}

    void Run();

private:
    void LintList();
    void LintStaged(const std::set<std::string> &updateList);
    // Whether the package can be selected at all; false after an error that says why not.
    bool LintPackage(const std::string &name);
    void LintDetails(const std::string &name);
    void LintRollout(const std::string &name, bool staged);
    void LintEntry(const std::string &name);
    void LintRangeKey(const std::string &package, const char *key);
    void LintRangeSection(const std::string &section, bool support);
    void LintReach(const std::vector<std::string> &candidates);

    const ManifestSource &m_source;
    const LineIndex &m_index;
    Reader m_reader;
    Findings &m_findings;
    std::set<std::string> m_rangesDone;
    std::set<std::string> m_packages;  // listed names that have a section, lower case
};

void ValueLint::Run() {
    LintList();
    const std::set<std::string> patches = LintDelta(m_source, m_index, m_packages, m_findings);
    LintKeys(m_index, m_packages, m_rangesDone, patches, m_findings);
}

void ValueLint::LintList() {
    std::string list;
    const int listLine = m_index.KeyLine("General", "update");
    if (m_index.FindSection("General") < 0) {
        m_findings.Error(0, "no-general", "no [General] section: no host gets a package");
        return;
    }
    std::string staged;
    if (!m_reader.Read("General", "update", list) || list.empty()) {
        if (m_reader.Read("General", "staged", staged) && !staged.empty()) {
            m_findings.Warning(listLine, "no-list", "[General] has no update list: only hosts in a rollout get "
                                                   "a package");
            LintStaged({});
        } else {
            m_findings.Error(listLine, "no-list", "[General] has no update list: no host gets a package");
        }
        return;
    }
    // The core's own walk of the list: a host above every version reads it all.
    const SelectionExplanation walk = ExplainSelection(m_source.iniPath, 0xFFFFFFFFu);
    const size_t commentAt = CommentStart(list);
    size_t at = 0;
    std::set<std::string> seen, twice;
    std::vector<std::string> candidates;
    bool emptyReported = false;
    for (const PackageExplanation &p : walk.packages) {
        at = p.name.empty() ? at : list.find(p.name, at);
        if (at != std::string::npos && commentAt != std::string::npos && at > commentAt) break;
        if (p.name.empty()) {
            if (!emptyReported && commentAt == std::string::npos)
                m_findings.Warning(listLine, "empty-name",
                                   "an empty name in the update list (a separator after a blank or "
                                   "another separator)");
            emptyReported = true;
            continue;
        }
        const std::string lowered = Lower(p.name);
        if (!seen.insert(lowered).second) {
            if (twice.insert(lowered).second)
                m_findings.Warning(listLine, "listed-twice", p.name + " is listed more than once");
            continue;
        }
        if (m_index.FindSection(p.name) < 0) {
            std::string hint;
            if (p.name.find_first_of("|/+") != std::string::npos)
                hint = "; names are separated by commas, semicolons, blanks or tabs";
            m_findings.Error(listLine, "no-section",
                             "the update list names " + p.name + ", and there is no [" + p.name +
                                 "] section" + hint);
            continue;
        }
        m_packages.insert(lowered);
        LintRollout(p.name, false);
        if (LintPackage(p.name)) candidates.push_back(p.name);
    }
    LintReach(candidates);
    LintStaged(seen);
}

// The staged list, as the core walks it for a host in every rollout.
void ValueLint::LintStaged(const std::set<std::string> &updateList) {
    const int listLine = m_index.KeyLine("General", "staged");
    std::set<std::string> seen;
    for (const PackageExplanation &p : ExplainSelection(m_source.iniPath, 0xFFFFFFFFu, 0, &kEveryRollout).packages) {
        const std::string lowered = Lower(p.name);
        if (!p.staged || p.name.empty() || !seen.insert(lowered).second) continue;
        if (m_index.FindSection(p.name) < 0) {
            m_findings.Error(listLine, "no-section",
                             "the staged list names " + p.name + ", and there is no [" + p.name + "] section");
            continue;
        }
        if (updateList.count(lowered))
            m_findings.Warning(listLine, "staged-and-update",
                               p.name + " is in the update list too: hosts outside its rollout get it from there");
        m_packages.insert(lowered);
        LintPackage(p.name);
        LintRollout(p.name, true);
    }
}

void ValueLint::LintRollout(const std::string &name, bool staged) {
    std::string value;
    const int line = m_index.KeyLine(name, "Rollout");
    const bool given = m_reader.Read(name, "Rollout", value) && !value.empty();
    if (!staged) {
        if (given)
            m_findings.Warning(line, "rollout-unstaged",
                               "Rollout in [" + name + "], which is not in the staged list: hosts ignore it");
        return;
    }
    if (!given) {
        m_findings.Error(m_index.SectionLine(name), "no-rollout",
                         "[" + name + "] is staged and has no Rollout: it is in no host's rollout");
        return;
    }
    bool usable = true;
    const uint32_t percent = CheckNumber("Rollout", value.c_str(), false, line, m_findings, usable);
    if (usable && percent == 0)
        m_findings.Warning(line, "rollout-stopped", "Rollout=0: no host gets [" + name + "]");
    else if (usable && percent > 100)
        m_findings.Warning(line, "rollout-range", "Rollout=" + value + " is above 100: read as 100");
}

// What people are told of the package; too long a text is cut for hosts.
void ValueLint::LintDetails(const std::string &name) {
    std::string value;
    if (m_reader.Read(name, "DisplayVersion", value) && value.size() > kDisplayVersionBytes)
        m_findings.Warning(m_index.KeyLine(name, "DisplayVersion"), "display-version-long",
                           "DisplayVersion has " + std::to_string(value.size()) + " bytes: hosts get the first " +
                               std::to_string(kDisplayVersionBytes));
    const std::string notes = CManifestReader(m_source.iniPath).LongValue(name.c_str(), "Notes", kManifestLimit);
    const int notesLine = m_index.KeyLine(name, "Notes");
    if (notes.size() > kNotesUrlBytes)
        m_findings.Warning(notesLine, "notes-long",
                           "Notes has " + std::to_string(notes.size()) + " bytes: hosts get the first " +
                               std::to_string(kNotesUrlBytes));
    else if (!notes.empty() && notes.rfind("http://", 0) != 0 && notes.rfind("https://", 0) != 0)
        m_findings.Warning(notesLine, "notes-url", "Notes=" + notes + " is no http:// or https:// URL");
    if (m_reader.Read(name, "Critical", value) && value != "0" && value != "1")
        m_findings.Warning(m_index.KeyLine(name, "Critical"), "critical-value",
                           "Critical=" + value + ": write 1 (or 0); hosts take any number but 0 as critical");
}

bool ValueLint::LintPackage(const std::string &name) {
    bool selectable = true;
    std::string value;
    const int sectionLine = m_index.SectionLine(name);
    if (!m_reader.Read(name, "version", value) || value.empty()) {
        m_findings.Error(sectionLine, "no-version", "[" + name + "] has no version: hosts pass it over");
        selectable = false;
    } else {
        bool usable = true;
        const uint32_t version =
            CheckNumber("version", value.c_str(), false, m_index.KeyLine(name, "version"), m_findings, usable);
        if (usable && version == 0) {
            m_findings.Error(m_index.KeyLine(name, "version"), "version-zero",
                             "version 0 is never newer than a host: hosts pass [" + name + "] over");
            selectable = false;
        }
        selectable = selectable && usable;
    }
    if (m_reader.Read(name, "language", value) && !value.empty()) {
        const uint32_t language = ParseManifestNumber(value.c_str());
        if (language != 0) {
            m_findings.Error(m_index.KeyLine(name, "language"), "language",
                             "language=" + value + ": hosts ask for language 0, so they never get [" +
                                 name + "]");
            selectable = false;
        }
    }
    LintRangeKey(name, "Unsupport");
    LintRangeKey(name, "Support");
    LintEntry(name);
    LintDetails(name);
    return selectable;
}

// Each key of the entry with its own message; whether a key makes hosts
// refuse the entry (error 5) is the core's rule, read as hosts read it.
void ValueLint::LintEntry(const std::string &name) {
    const PackageEntry entry = ReadPackageEntry(CManifestReader(m_source.iniPath), name.c_str());
    std::string value;
    int line = m_index.KeyLine(name, "Package");
    const bool hasPackage = m_reader.Read(name, "Package", value);
    value = WithoutComment(value);
    if (!hasPackage || value.empty()) {
        m_findings.Error(line, "no-package", "[" + name + "] has no Package: hosts that select it request \"0\"");
    } else {
        if (value[0] != '/')
            m_findings.Warning(line, "package-slash", "Package=" + value + " does not start with \"/\"");
        const std::string local = LocalNameOf(value);
        if (!IsSafeLocalName(local))
            m_findings.Error(line, "package-name",
                             "the file name \"" + local + "\": " + RefusedNameReason(local) + " (error 5)");
        else if (!IsAscii(local))
            m_findings.Warning(line, "package-ascii",
                               "the file name \"" + local + "\" is not ASCII: its bytes name "
                               "different files on Windows and Linux");
    }

    line = m_index.KeyLine(name, "PackageSize");
    if (!m_reader.Read(name, "PackageSize", value) || value.empty()) {
        m_findings.Error(line, "no-size", "[" + name + "] has no PackageSize: hosts that select it end in error 5");
    } else {
        bool usable = true;
        CheckNumber("PackageSize", value.c_str(), false, line, m_findings, usable);
        if (usable && entry.size == 0)
            m_findings.Error(line, "size-zero", "PackageSize 0: hosts that select it end in error 5");
        else if (entry.size > kMaxPackageSize)
            m_findings.Error(line, "size-too-big",
                             "PackageSize " + std::to_string(entry.size) + " is over " +
                                 std::to_string(kMaxPackageSize) +
                                 " (128 MiB): hosts that select it end in error 5");
    }

    line = m_index.KeyLine(name, "Md5");
    const bool hasMd5 = m_reader.Read(name, "Md5", value);
    value = WithoutComment(value);
    const std::string need = std::to_string(kMd5Chars);
    if (!hasMd5 || value.empty()) {
        m_findings.Error(line, "no-md5", "[" + name + "] has no Md5: hosts that select it end in error 5");
        return;
    }
    if (entry.md5.size() < kMd5Chars) {
        m_findings.Error(line, "md5-length", "Md5 has " + std::to_string(value.size()) +
                                                 " characters; hosts need " + need + " (error 5)");
        return;
    }
    // What hosts compare the file's digest with.
    const std::string &digest = entry.md5;
    if (digest.find_first_not_of("0123456789ABCDEFabcdef") != std::string::npos)
        m_findings.Error(line, "md5-format", "Md5 is not " + need +
                                                 " hexadecimal digits: no package matches it (error 6)");
    else if (digest.find_first_of("abcdef") != std::string::npos)
        m_findings.Error(line, "md5-case", "Md5 is in lower case: hosts compare it with upper-case "
                                           "digits, so no package matches it (error 6)");
    if (value.size() > kMd5Chars)
        m_findings.Warning(line, "md5-length", "Md5 has " + std::to_string(value.size()) +
                                                   " characters; hosts compare only the first " + need);
}

void ValueLint::LintRangeKey(const std::string &package, const char *key) {
    std::string value;
    if (!m_reader.Read(package, key, value) || value.empty()) return;
    const int line = m_index.KeyLine(package, key);
    const bool support = std::strcmp(key, "Support") == 0;
    value = WithoutComment(value);
    const std::string section = value.substr(0, value.find_first_of(",; \t"));
    if (section.size() != value.size())
        m_findings.Warning(line, "range-names", std::string(key) + "=" + value + ": only the first name, " +
                                                    section + ", counts");
    if (m_index.FindSection(section) < 0 || m_reader.Keys(section).empty()) {
        m_findings.Error(line, "no-range",
                         std::string(key) + " names [" + section + "], which is missing or empty: " +
                             (support ? "it admits every host version" : "it excludes no host version"));
        return;
    }
    LintRangeSection(section, support);
}

void ValueLint::LintRangeSection(const std::string &section, bool support) {
    if (!m_rangesDone.insert(Lower(section)).second) return;
    std::string value;
    bool usable = true;
    for (const char *key : {"lower", "greater"})
        if (m_reader.Read(section, key, value) && !value.empty())
            CheckNumber(key, value.c_str(), false, m_index.KeyLine(section, key), m_findings, usable);
    const std::vector<std::string> keys = m_reader.Keys(section);
    if (m_reader.Keys(section, kManifestLimit).size() > keys.size())
        m_findings.Warning(m_index.SectionLine(section), "range-keys",
                           "[" + section + "]'s key names are longer than 254 characters together: "
                           "hosts do not look at the keys past them");
    for (const std::string &key : keys) {
        if (key.size() < 3 || !SameName(key.substr(0, 3), "ver")) continue;
        if (!m_reader.Read(section, key.c_str(), value) || value.empty()) continue;
        const int line = m_index.KeyLine(section, key);
        const char *stop = nullptr;
        const uint32_t low = CheckNumber(key, value.c_str(), true, line, m_findings, usable, &stop);
        if (!usable || (support && low == 0xFFFFFFFFu)) continue;
        uint32_t high = low;
        const char *rest = stop;
        while (*rest == ' ' || *rest == '\t') ++rest;
        if (*stop == '-') {
            high = CheckNumber(key, stop + 1, false, line, m_findings, usable);
        } else if (*rest == '-') {
            m_findings.Error(line, "ver-blanks", key + "=" + value + ": with blanks before \"-\" only " +
                                                     HexVersion(low) + " is in the range; write A-B");
        }
        if (usable && low > high)
            m_findings.Warning(line, "ver-empty", key + "=" + value + " holds no version: " + HexVersion(low) +
                                                      " is above " + HexVersion(high));
    }
}

// Packages that no host version gets: alone in the list (a [General] put
// before the manifest's own, which hosts then ignore), or behind earlier ones.
void ValueLint::LintReach(const std::vector<std::string> &candidates) {
    std::set<std::string> reached;
    for (const VersionRange &range : MapSelection(m_source.iniPath))
        if (range.hasSelection) reached.insert(range.selected);
    if (reached.empty())
        m_findings.Error(m_index.KeyLine("General", "update"), "nothing-offered",
                         "no host version gets any package");
    int copies = 0;
    for (const std::string &name : candidates) {
        if (reached.count(name)) continue;
        // A new file each time: a reader may cache a file it has read.
        const std::string alonePath = m_source.iniPath + ".alone" + std::to_string(++copies);
        {
            std::ofstream out(alonePath, std::ios::binary | std::ios::trunc);
            out << "[General]\r\nupdate=" << name << "\r\n" << m_source.readerText;
        }
        bool alone = false;
        for (const VersionRange &range : MapSelection(alonePath)) alone = alone || range.hasSelection;
        const int line = m_index.SectionLine(name);
        if (!alone)
            m_findings.Error(line, "never-admitted",
                             "no host version can get [" + name + "]: its version and ranges admit none");
        else
            m_findings.Warning(line, "shadowed",
                               "no host version gets [" + name + "]: packages listed before it take "
                               "every host version it admits");
    }
}

}  // namespace

void LintValues(const ManifestSource &source, const LineIndex &index, Findings &findings) {
    ValueLint(source, index, findings).Run();
}

}  // namespace marvostell::tools
