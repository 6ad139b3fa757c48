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
#include "manifest/manifest_reader.h"

namespace marvostell::tools {

// How the staged list is walked, as CheckNewVersionEx walks it: for a host
// whose identity is `hostId` (32 lower-case hexadecimal digits; empty: none
// known, so in no rollout), or, with `everyRollout`, for a host taken as in
// every rollout. Without one, only the update list is walked, as
// CheckNewVersion does.
struct StagedWalk {
    std::string hostId;
    bool everyRollout = false;
};
// The walk of a host in every rollout: it meets every package of both lists.
const StagedWalk kEveryRollout{"", true};

// One package of a list as the selection met it.
struct PackageExplanation {
    std::string name;                // as listed; may be empty
    std::vector<std::string> steps;  // each test, in plain words, in order
    bool selected = false;
    std::string verdict;             // "selected", or "passed over: <why>"
    bool staged = false;             // from the staged list
    bool rolloutTested = false;      // its Rollout was tested: the three below hold
    uint32_t rollout = 0;            // the percentage
    uint32_t bucket = 0xFFFFFFFFu;   // the host's bucket, or kNoBucket
    bool admitted = false;
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

// Runs the selection for one host version (and language; hosts ask for 0),
// with the staged list when `staged` is given.
SelectionExplanation ExplainSelection(const std::string &manifestPath, uint32_t hostVersion,
                                      uint32_t language = 0, const StagedWalk *staged = nullptr);

// Runs the core's selection as the tools ask for it: the update list alone
// (no `staged`), or the staged list first.
bool SelectFor(const CManifestReader &manifest, uint32_t hostVersion, uint32_t language,
               const StagedWalk *staged, CCheckObserver *observer, std::string &section);

// The explanation as lines of text; the last is exactly "selected: NAME" or
// "selected: none".
std::vector<std::string> ExplanationLines(const SelectionExplanation &explanation);

// The explanation as one JSON object.
std::string ExplanationJson(const SelectionExplanation &explanation);

// A staged package's Rollout as a stretch of versions met it.
struct RolloutTest {
    std::string section;
    uint32_t rollout = 0;
    uint32_t bucket = 0xFFFFFFFFu;  // kNoBucket when no identity was given
    bool admitted = false;
    bool operator==(const RolloutTest &o) const {
        return section == o.section && rollout == o.rollout && bucket == o.bucket &&
               admitted == o.admitted;
    }
};

// Host versions low to high (inclusive) that all get the same answer.
struct VersionRange {
    uint32_t low = 0;
    uint32_t high = 0;
    bool hasSelection = false;
    std::string selected;
    bool staged = false;               // the selection came from the staged list
    std::vector<RolloutTest> rollouts;  // with a staged walk: those tested, in order
};

// The whole host-version space, 0 to 0xFFFFFFFF, as contiguous ranges in
// order, adjacent ranges with different answers. Found from the boundaries of
// the tests the selection makes, never by trying every version. With
// `staged`, the staged list is walked first.
std::vector<VersionRange> MapSelection(const std::string &manifestPath, uint32_t language = 0,
                                       const StagedWalk *staged = nullptr);

// "rollout":N,"bucket":N or null,"admitted":BOOL, for a JSON object.
std::string RolloutJson(uint32_t rollout, uint32_t bucket, bool admitted);

// "0x" and eight upper-case hexadecimal digits.
std::string HexVersion(uint32_t version);

// Text as a JSON string literal, quotes included. Bytes above 0x7F are
// written as \u00XX (the manifest is 8-bit text of unknown code page).
std::string JsonString(const std::string &text);

}  // namespace marvostell::tools
