#include "signed_text.h"

#include "line_index.h"
#include "manifest/signature.h"

namespace marvostell::tools {
namespace {

// Where the line that starts at `begin` ends, before its line end.
size_t ContentEnd(const std::string &text, size_t begin) {
    const size_t end = text.find_first_of("\r\n", begin);
    return end == std::string::npos ? text.size() : end;
}

// Where the next line starts.
size_t NextLine(const std::string &text, size_t begin) {
    size_t at = ContentEnd(text, begin);
    if (at < text.size() && text[at] == '\r') ++at;
    if (at < text.size() && text[at] == '\n') ++at;
    return at;
}

}  // namespace

std::string LineEndOf(const std::string &text) {
    const size_t end = text.find('\n');
    return end != std::string::npos && end > 0 && text[end - 1] == '\r' ? "\r\n" : "\n";
}

std::string WithoutSignature(const std::string &text, int &notLast) {
    notLast = 0;
    std::string out;
    for (size_t at = 0; at < text.size();) {
        const size_t next = NextLine(text, at);
        if (text.compare(at, sizeof kSignaturePrefix - 1, kSignaturePrefix) != 0)
            out.append(text, at, next - at);
        else if (next < text.size())
            ++notLast;
        at = next;
    }
    return out;
}

bool WithKey(const std::string &text, const std::string &section, const std::string &key,
             const std::string &value, std::string &out) {
    const LineIndex index(text);
    const int found = index.FindSection(section);
    if (found < 0) return false;
    const ManifestLine *last = nullptr;
    for (const ManifestLine &line : index.Lines()) {
        if (line.section != found || line.kind != ManifestLine::kKey) {
            if (line.kind == ManifestLine::kSection && line.section == found) last = &line;
            continue;
        }
        if (SameName(line.name, key)) {
            const size_t end = ContentEnd(text, line.begin);
            out = text.substr(0, line.begin) + key + "=" + value + text.substr(end);
            return true;
        }
        last = &line;
    }
    // After the last key, or the header of an empty section.
    const size_t at = NextLine(text, last->begin);
    const std::string end = LineEndOf(text);
    const bool ended = at > 0 && text[at - 1] == '\n';
    out = text.substr(0, at) + (ended ? "" : end) + key + "=" + value + end + text.substr(at);
    return true;
}

std::string WithoutKey(const std::string &text, const std::string &section, const std::string &key) {
    const LineIndex index(text);
    const int found = index.FindSection(section);
    std::string out;
    size_t kept = 0;
    for (const ManifestLine &line : index.Lines()) {
        if (found < 0 || line.section != found || line.kind != ManifestLine::kKey || !SameName(line.name, key))
            continue;
        out.append(text, kept, line.begin - kept);
        kept = NextLine(text, line.begin);
    }
    return out + text.substr(kept);
}

bool WithExpires(const std::string &text, const std::string &date, std::string &out) {
    return WithKey(text, "General", "Expires", date, out);
}

std::string EndedText(const std::string &text) {
    const bool ended = text.empty() || text.back() == '\n';
    return ended ? text : text + LineEndOf(text);
}

std::string SignatureLine(const std::string &text, const std::string &signature) {
    return kSignaturePrefix + signature + LineEndOf(text);
}

}  // namespace marvostell::tools
