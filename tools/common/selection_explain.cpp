// Explains the core's selection by observing it: every decision the core makes
// arrives as an event and is put into words here; nothing is decided twice.
#include "selection_explain.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "host_path.h"
#include "manifest/selection.h"

namespace marvostell::tools {
namespace {

std::string Interval(uint32_t low, uint32_t high) {
    if (low > high) return "no version";
    if (low == high) return "version " + HexVersion(low);
    return "versions " + HexVersion(low) + " to " + HexVersion(high);
}

std::string Quoted(const char *section) { return "[" + std::string(section) + "]"; }

// A staged package's Rollout in words: its step and, when it keeps the host
// out, the verdict.
void DescribeRollout(const SelectionEvent &e, PackageExplanation &p) {
    const std::string key = *e.text ? "Rollout=" + std::string(e.text) : std::string("no Rollout");
    const std::string share = "the hosts in buckets below " + std::to_string(std::min(e.number, 100u) * 100);
    p.rolloutTested = true;
    p.rollout = e.number;
    p.bucket = e.bucket;
    p.admitted = e.passed;
    if (e.number == 0) {
        p.steps.push_back(key + ": no host is in the rollout (it is stopped)");
        p.verdict = "passed over: staged for no host";
    } else if (e.kind == SelectionEvent::kRolloutIgnored) {
        p.steps.push_back(key + ": ignored, the host asked for any staged release");
    } else if (e.bucket != kNoBucket) {
        p.steps.push_back(key + ": " + share + " get it; this host's bucket is " + std::to_string(e.bucket) +
                          (e.passed ? ": in the rollout" : ": not in the rollout"));
        if (!e.passed) p.verdict = "passed over: not in the rollout (bucket " + std::to_string(e.bucket) + ")";
    } else if (e.passed) {
        p.steps.push_back(key + ": " + share + " get it; taken as one of them");
    } else {
        p.steps.push_back(key + ": " + share + " get it; no host identity, so in no rollout");
        p.verdict = "passed over: no host identity";
    }
}

}  // namespace

void SelectionRecorder::OnSelectionEvent(const SelectionEvent &e) {
    if (e.kind == SelectionEvent::kListMissing) {
        m_out.listMissing = true;
        return;
    }
    if (e.kind == SelectionEvent::kListEnd) return;
    if (e.kind == SelectionEvent::kPackage) {
        m_out.packages.emplace_back();
        m_out.packages.back().name = e.package;
        m_out.packages.back().staged = e.staged;
        if (!*e.package) Step("an empty name (a separator right after another, or after a blank)");
        return;
    }
    if (m_out.packages.empty()) return;
    PackageExplanation &p = m_out.packages.back();
    const std::string host = HexVersion(m_out.hostVersion);
    switch (e.kind) {
    case SelectionEvent::kNoVersion:
        Step("no version: the section is missing or has no version value");
        p.verdict = "passed over: no version";
        break;
    case SelectionEvent::kVersion:
        if (e.passed) {
            Step("version=" + std::string(e.text) + " is " + HexVersion(e.number) +
                 ", newer than the host's " + host);
        } else {
            Step("version=" + std::string(e.text) + " is " + HexVersion(e.number) +
                 ", not newer than the host's " + host);
            p.verdict = "passed over: not newer than the host";
        }
        break;
    case SelectionEvent::kLanguage:
        if (e.passed) {
            Step("language=" + std::string(e.text) + ": any host");
        } else {
            Step("language=" + std::string(e.text) + " is " + std::to_string(e.number) +
                 ": only hosts that ask for that language, and hosts ask for 0");
            p.verdict = "passed over: language " + std::to_string(e.number);
        }
        break;
    case SelectionEvent::kRangeStart: {
        std::string line = std::string(e.key) + "=" + e.text + ": ";
        line += e.support ? "only hosts in " + Quoted(e.section) + " get it"
                          : "hosts in " + Quoted(e.section) + " do not get it";
        if (std::strcmp(e.text, e.section) != 0)
            line += " (only the first name counts)";
        Step(line);
        break;
    }
    case SelectionEvent::kRangeBound: {
        std::string line = "  " + std::string(e.key) + "=" + e.text + ": " +
                           Interval(e.low, e.high) + ": the host is " +
                           (e.passed ? "in it" : "not in it");
        const char *dash = std::strchr(e.text, '-');
        if (e.low == e.high && dash && dash != e.text)
            line += " (a \"-\" counts only right after the first number)";
        Step(line);
        break;
    }
    case SelectionEvent::kRangeEmpty:
        Step("  " + Quoted(e.section) + " is missing or has no keys: " +
             (e.support ? "it admits every version" : "it excludes no version"));
        break;
    case SelectionEvent::kRangeAll:
        Step("  " + std::string(e.key) + "=" + e.text +
             " starts at 0xFFFFFFFF: the Support range admits every version");
        break;
    case SelectionEvent::kRangeEnd:
        if (e.support && !e.passed)
            p.verdict = "passed over: the host is outside the Support range " + Quoted(e.section);
        else if (!e.support && e.passed)
            p.verdict = "passed over: the host is in the Unsupport range " + Quoted(e.section);
        break;
    case SelectionEvent::kRollout:
    case SelectionEvent::kRolloutIgnored:
        DescribeRollout(e, p);
        break;
    case SelectionEvent::kSelected:
        p.selected = true;
        p.verdict = "selected";
        m_out.hasSelection = true;
        m_out.selected = e.package;
        break;
    default:
        break;
    }
}

std::string RolloutJson(uint32_t rollout, uint32_t bucket, bool admitted) {
    return "\"rollout\":" + std::to_string(rollout) + ",\"bucket\":" +
           (bucket == kNoBucket ? std::string("null") : std::to_string(bucket)) +
           ",\"admitted\":" + (admitted ? "true" : "false");
}

std::string HexVersion(uint32_t version) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(version));
    return text;
}

std::string JsonString(const std::string &text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c > 0x7E) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", c);
            out += escape;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

bool SelectFor(const CManifestReader &manifest, uint32_t hostVersion, uint32_t language,
               const StagedWalk *staged, CCheckObserver *observer, std::string &section) {
    if (!staged) return SelectPackage(manifest, hostVersion, language, observer, section);
    CHostIdentity identity = CHostIdentity::Given(staged->hostId);
    RolloutRules rules;
    rules.identity = &identity;
    rules.admitAll = staged->everyRollout;
    uint32_t version = 0;
    bool fromStaged = false;
    return SelectStagedOrUpdate(manifest, hostVersion, language, rules, observer, section, version,
                                fromStaged);
}

SelectionExplanation ExplainSelection(const std::string &manifestPath, uint32_t hostVersion,
                                      uint32_t language, const StagedWalk *staged) {
    SelectionExplanation out;
    out.hostVersion = hostVersion;
    SelectionRecorder recorder(out);
    std::string selected;
    SelectFor(CManifestReader(HostPath(manifestPath)), hostVersion, language, staged, &recorder,
              selected);
    return out;
}

std::vector<std::string> ExplanationLines(const SelectionExplanation &explanation) {
    std::vector<std::string> lines;
    lines.push_back("host version " + HexVersion(explanation.hostVersion) + " (" +
                    std::to_string(explanation.hostVersion) + ")");
    if (explanation.listMissing)
        lines.push_back("[General] has no update list, or an empty one: no package is offered");
    for (const PackageExplanation &p : explanation.packages) {
        lines.push_back((p.staged ? "staged package " : "package ") +
                        (p.name.empty() ? std::string("(empty name)") : p.name));
        for (const std::string &step : p.steps) lines.push_back("  " + step);
        lines.push_back("  " + (p.verdict.empty() ? std::string("passed over") : p.verdict));
    }
    if (!explanation.listMissing && !explanation.hasSelection)
        lines.push_back("the list ends: no package for this host");
    lines.push_back("selected: " + (explanation.hasSelection ? explanation.selected
                                                               : std::string("none")));
    return lines;
}

std::string ExplanationJson(const SelectionExplanation &explanation) {
    std::string json = "{\"host_version\":" + JsonString(HexVersion(explanation.hostVersion)) +
                       ",\"list_missing\":" + (explanation.listMissing ? "true" : "false") +
                       ",\"packages\":[";
    for (size_t i = 0; i < explanation.packages.size(); ++i) {
        const PackageExplanation &p = explanation.packages[i];
        json += (i ? "," : "") + std::string("{\"name\":") + JsonString(p.name) + ",\"steps\":[";
        for (size_t s = 0; s < p.steps.size(); ++s) {
            std::string step = p.steps[s];
            step.erase(0, step.find_first_not_of(' '));
            json += (s ? "," : "") + JsonString(step);
        }
        json += "],\"selected\":" + std::string(p.selected ? "true" : "false") +
                ",\"verdict\":" + JsonString(p.verdict.empty() ? "passed over" : p.verdict) +
                ",\"staged\":" + (p.staged ? "true" : "false");
        if (p.rolloutTested) json += "," + RolloutJson(p.rollout, p.bucket, p.admitted);
        json += "}";
    }
    json += "],\"selected\":" +
            (explanation.hasSelection ? JsonString(explanation.selected) : std::string("null")) + "}";
    return json;
}

}  // namespace marvostell::tools
