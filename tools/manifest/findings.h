// What lint and verify find, and how it is shown: plain lines for people,
// or one JSON object for release pipelines.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace marvostell::tools {

enum class Severity { kError, kWarning };

struct Finding {
    Severity severity;
    int line;          // 1-based line of the manifest, 0 for the whole file
    std::string code;  // a short stable name, e.g. "md5-case"
    std::string message;
};

// A message is cut to this many bytes: it may quote a manifest's text.
constexpr size_t kMaxMessageBytes = 400;

class Findings {
public:
    void Error(int line, const std::string &code, const std::string &message) {
        m_list.push_back({Severity::kError, line, code, Bounded(message)});
    }
    void Warning(int line, const std::string &code, const std::string &message) {
        m_list.push_back({Severity::kWarning, line, code, Bounded(message)});
    }
    const std::vector<Finding> &List() const { return m_list; }
    int Count(Severity severity) const;
    // Whether any finding counts as an error; with `strict`, warnings do.
    bool Failed(bool strict) const;
    // Ordered by line, the whole-file findings first; stable otherwise.
    void Sort();

private:
    static std::string Bounded(const std::string &message);
    std::vector<Finding> m_list;
};

// "NAME:LINE: error: message [code]" lines, then a summary line.
void PrintFindingsText(std::FILE *out, const std::string &name, const Findings &findings);

// The findings as a JSON array.
std::string FindingsJson(const Findings &findings);

}  // namespace marvostell::tools
