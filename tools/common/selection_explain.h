// The module's own package selection, explained: for one host version, what
// each package of the update list was tested on and why it was passed over or
// selected; and over all host versions, which package each range of versions
// gets. Both run the core's SelectPackage on the manifest file as it is
// (a host reads at most the first kManifestLimit bytes: pass such a copy for
// a host's view).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/check_observer.h"

namespace marvostell::tools {

// One package of the update list as the selection met it.
struct PackageExplanation {
    std::string name;                // as listed; may be empty
    std::vector<std::string> steps;  // each test, in plain words, in order
    bool selected = false;
    std::string verdict;             // "selected", or "passed over: <why>"
};

struct SelectionExplanation {
    uint32_t hostVersion = 0;
    bool listMissing = false;  // [General] has no update list, or an empty one
    std::vector<PackageExplanation> packages;
    bool hasSelection = false;
    std::string selected;      // the selected package section
};

// Puts the selection's events into words as they arrive, into an explanation
// whose hostVersion is already set: to explain a selection that another
// caller (a whole check) runs.
class SelectionRecorder : public CCheckObserver {
public:
    explicit SelectionRecorder(SelectionExplanation &out) : m_out(out) {}
    void OnSelectionEvent(const SelectionEvent &e) override;

private:
    void Step(const std::string &text) { m_out.packages.back().steps.push_back(text); }
    SelectionExplanation &m_out;
};

// Runs the selection for one host version (and language; hosts ask for 0).
SelectionExplanation ExplainSelection(const std::string &manifestPath, uint32_t hostVersion,
                                      uint32_t language = 0);

// The explanation as lines of text; the last is exactly "selected: NAME" or
// "selected: none".
std::vector<std::string> ExplanationLines(const SelectionExplanation &explanation);

// The explanation as one JSON object.
std::string ExplanationJson(const SelectionExplanation &explanation);

// Host versions low to high (inclusive) that all get the same answer.
struct VersionRange {
    uint32_t low = 0;
    uint32_t high = 0;
    bool hasSelection = false;
    std::string selected;
};

// The whole host-version space, 0 to 0xFFFFFFFF, as contiguous ranges in
// order, adjacent ranges with different answers. Found from the boundaries of
// the tests the selection makes, never by trying every version.
std::vector<VersionRange> MapSelection(const std::string &manifestPath, uint32_t language = 0);

// "0x" and eight upper-case hexadecimal digits.
std::string HexVersion(uint32_t version);

// Text as a JSON string literal, quotes included. Bytes above 0x7F are
// written as \u00XX (the manifest is 8-bit text of unknown code page).
std::string JsonString(const std::string &text);

}  // namespace marvostell::tools
