// The manifest's shape: encoding, line ends, the host's cut, duplicates,
// comments after values, and value lengths.
#include <map>

#include "lint.h"
#include "manifest/manifest_reader.h"
#include "reader_text.h"
#include "text.h"

namespace marvostell::tools {
namespace {

// The reader's buffer holds the value and its terminator.
constexpr size_t kMaxValueChars = kValueBufferSize - 1;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A value as the reader returns it: a matching pair of quotes removed.
std::string WithoutQuotes(const std::string &v) {
    if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
        return v.substr(1, v.size() - 2);
    return v;
}

// Where a ";" starts what looks like a comment: first, or after a blank.
size_t InlineComment(const std::string &value) {
    for (size_t i = 0; i < value.size(); ++i)
        if (value[i] == ';' && (i == 0 || IsBlank(value[i - 1]))) return i;
    return std::string::npos;
}

// The mark and encoding in the bytes; NUL and lone CR in what the reader sees.
void LintEncoding(const ManifestSource &source, const LineIndex &index, Findings &findings) {
    const std::string &text = source.readerText;
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        const LineIndex rest(text.substr(3, text.find_first_of("\r\n")));
        const bool meaningful = !rest.Lines().empty() &&
                                (rest.Lines()[0].kind == ManifestLine::kSection ||
                                 rest.Lines()[0].kind == ManifestLine::kKey);
        if (meaningful)
            findings.Error(1, "bom",
                           "a UTF-8 byte-order mark before the first line: Windows hosts do not see "
                           "what that line holds; save the file without the mark");
        else
            findings.Warning(1, "bom", "a UTF-8 byte-order mark: save the file without it");
    } else if (IsUtf16Le(source.hostText)) {
        findings.Warning(1, "utf16",
                         "UTF-16LE text: hosts read it converted to their code page (characters "
                         "outside it differ between Windows and Linux), many tools do not; save it as ASCII");
    } else if (text.compare(0, 2, "\xFE\xFF") == 0) {
        findings.Error(1, "utf16", "UTF-16BE text: hosts read 8-bit text; save it as ASCII");
    }
    const size_t nul = text.find('\0');
    if (nul != std::string::npos)
        findings.Warning(index.LineAt(nul), "nul", "a NUL byte: hosts ignore the rest of its line");
    for (size_t i = text.find('\r'); i != std::string::npos; i = text.find('\r', i + 1)) {
        if (i + 1 >= text.size() || text[i + 1] != '\n') {
            findings.Warning(index.LineAt(i), "cr-only",
                             "a line ends in CR alone: hosts read it, many editors and tools "
                             "do not; end lines with LF or CR LF");
            break;
        }
    }
}

// At most this many lost names are listed; the rest are counted.
constexpr int kLostNamesShown = 8;

void LintCut(const ManifestSource &source, Findings &findings) {
    if (!source.fullKnown) {
        if (source.hostText.size() == kManifestLimit)
            findings.Warning(0, "cut-unknown",
                             "hosts read the first " + std::to_string(kManifestLimit) + " bytes, and whether the manifest goes on "
                             "past them could not be told");
        return;
    }
    if (source.fullText.size() <= kManifestLimit) return;
    // Where the host's text ends in the whole text, as the reader sees both.
    const std::string fullText = ReaderText(source.fullText);
    const LineIndex full(fullText);
    const int cutLine = full.LineAt(source.readerText.size());
    std::string lost;
    int meaningful = 0, named = 0;
    for (const ManifestLine &line : full.Lines()) {
        if (line.number < cutLine) continue;
        std::string name;
        if (line.kind == ManifestLine::kSection)
            name = "[" + line.name + "]";
        else if (line.kind == ManifestLine::kKey && line.number == cutLine)
            name = line.name + " (cut short)";
        else if (line.kind != ManifestLine::kKey)
            continue;
        ++meaningful;
        if (name.empty()) continue;
        if (++named <= kLostNamesShown) lost += (named > 1 ? ", " : " ") + name;
    }
    if (named > kLostNamesShown) lost += " and " + std::to_string(named - kLostNamesShown) + " more sections";
    const std::string size = "the manifest is " +
                             std::string(source.fullText.size() >= kMaxFullBytes ? "at least " : "") +
                             std::to_string(source.fullText.size()) +
                             " bytes and hosts read only the first " + std::to_string(kManifestLimit) +
                             ", up to line " +
                             std::to_string(cutLine);
    if (meaningful)
        findings.Error(cutLine, "cut", size + "; lost:" + (lost.empty() ? std::string(" keys") : lost));
    else
        findings.Warning(cutLine, "cut", size + " (only comments and blank lines are lost)");
}

}  // namespace

void LintText(const ManifestSource &source, const LineIndex &index, Findings &findings) {
    LintEncoding(source, index, findings);
    LintCut(source, findings);

    std::map<std::pair<int, std::string>, int> keysSeen;
    for (const ManifestLine &line : index.Lines()) {
        if (line.kind == ManifestLine::kOther && !(line.number == 1 && source.readerText.compare(0, 3, "\xEF\xBB\xBF") == 0)) {
            findings.Warning(line.number, "ignored",
                             "neither a section, a key nor a comment: hosts ignore this line");
        } else if (line.kind == ManifestLine::kSection && !index.Sections()[line.section].first) {
            findings.Error(line.number, "duplicate-section",
                           "[" + line.name + "] again (first at line " +
                               std::to_string(index.SectionLine(line.name)) +
                               "): hosts read only the first");
        }
        if (line.kind != ManifestLine::kKey) continue;
        if (line.section < 0) {
            if (!(line.number == 1 && source.readerText.compare(0, 3, "\xEF\xBB\xBF") == 0))
                findings.Warning(line.number, "outside", "a key before the first section: hosts ignore it");
            continue;
        }
        const auto seen = keysSeen.emplace(std::make_pair(line.section, Lower(line.name)), line.number);
        if (!seen.second)
            findings.Error(line.number, "duplicate-key",
                           line.name + " again in [" + index.Sections()[line.section].name +
                               "] (first at line " + std::to_string(seen.first->second) +
                               "): hosts read only the first");
        if (!line.name.empty() && line.name[0] == '#')
            findings.Warning(line.number, "hash", "\"#\" does not start a comment: this is a key named \"" +
                                                      line.name + "\"; start comments with \";\"");
        const std::string value = WithoutQuotes(line.value);
        if (value.size() > kMaxValueChars)
            findings.Error(line.number, "too-long",
                           line.name + " is " + std::to_string(value.size()) +
                               " characters long; hosts read only the first " + std::to_string(kMaxValueChars));
        const size_t comment = InlineComment(line.value);
        const bool isList = SameName(line.name, "update");
        if (comment != std::string::npos && !(isList && comment == 0))
            findings.Error(line.number, "inline-comment",
                           "\"" + line.value.substr(comment) + "\" is part of the value, not a comment" +
                               (isList ? " (its words are read as more package names)"
                                                              : "") +
                               "; put comments on lines of their own");
    }
}

Findings LintManifest(const ManifestSource &source, const LintRules &rules) {
    Findings findings;
    const LineIndex index(source.readerText);
    LintText(source, index, findings);
    LintValues(source, index, findings);
    if (!rules.keys.empty()) LintSignature(source, index, rules.keys, findings);
    if (rules.forSigning || !rules.keys.empty()) {
        LintExpiry(source, index, findings);
        LintSha256(source, index, findings);
    }
    findings.Sort();
    return findings;
}

}  // namespace marvostell::tools
