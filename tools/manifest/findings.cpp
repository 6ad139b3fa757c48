#include "findings.h"

#include <algorithm>

#include "selection_explain.h"

namespace marvostell::tools {

std::string Findings::Bounded(const std::string &message) {
    if (message.size() <= kMaxMessageBytes) return message;
    return message.substr(0, kMaxMessageBytes - 3) + "...";
}

int Findings::Count(Severity severity) const {
    return static_cast<int>(std::count_if(m_list.begin(), m_list.end(),
                                          [&](const Finding &f) { return f.severity == severity; }));
}

bool Findings::Failed(bool strict) const {
    return Count(Severity::kError) > 0 || (strict && Count(Severity::kWarning) > 0);
}

void Findings::Sort() {
    std::stable_sort(m_list.begin(), m_list.end(),
                     [](const Finding &a, const Finding &b) { return a.line < b.line; });
}

void PrintFindingsText(std::FILE *out, const std::string &name, const Findings &findings) {
    for (const Finding &f : findings.List()) {
        const char *severity = f.severity == Severity::kError ? "error" : "warning";
        if (f.line > 0)
            std::fprintf(out, "%s:%d: %s: %s [%s]\n", name.c_str(), f.line, severity,
                         f.message.c_str(), f.code.c_str());
        else
            std::fprintf(out, "%s: %s: %s [%s]\n", name.c_str(), severity, f.message.c_str(),
                         f.code.c_str());
    }
    const int errors = findings.Count(Severity::kError);
    const int warnings = findings.Count(Severity::kWarning);
    std::fprintf(out, "%s: %d error%s, %d warning%s\n", name.c_str(), errors, errors == 1 ? "" : "s",
                 warnings, warnings == 1 ? "" : "s");
}

std::string FindingsJson(const Findings &findings) {
    std::string json = "[";
    bool first = true;
    for (const Finding &f : findings.List()) {
        json += first ? "" : ",";
        first = false;
        json += "{\"severity\":";
        json += f.severity == Severity::kError ? "\"error\"" : "\"warning\"";
        json += ",\"line\":" + std::to_string(f.line) + ",\"code\":" + JsonString(f.code) +
                ",\"message\":" + JsonString(f.message) + "}";
    }
    return json + "]";
}

}  // namespace marvostell::tools
