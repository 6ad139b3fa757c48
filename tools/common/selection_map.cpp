// The selection over every host version. The core's SelectPackage reports
// each test of the host's version as an interval; within a stretch of
// versions that no reported interval starts or ends in, every test comes out
// the same, so the selection does too. The map sweeps from 0 upwards, runs
// the selection once at the start of each stretch and jumps to the next
// boundary that run revealed: one run per stretch, never 2^32.
#include <cstdint>
#include <string>
#include <vector>

#include "host_path.h"
#include "manifest/selection.h"
#include "selection_explain.h"

namespace marvostell::tools {
namespace {

// Finds the first boundary above `from` among the tests of one run, and
// keeps its Rollout tests (which no host version changes).
class BoundaryFinder : public CCheckObserver {
public:
    explicit BoundaryFinder(uint32_t from) : m_from(from) {}

    void OnSelectionEvent(const SelectionEvent &e) override {
        if (e.kind == SelectionEvent::kPackage) m_package = e.package;
        if (e.kind == SelectionEvent::kRollout || e.kind == SelectionEvent::kRolloutIgnored)
            rollouts.push_back(RolloutTest{m_package, e.number, e.bucket, e.passed});
        if (e.kind == SelectionEvent::kSelected) staged = e.staged;
        if (e.kind != SelectionEvent::kVersion && e.kind != SelectionEvent::kRangeBound) return;
        if (e.low > e.high) return;  // an empty interval: the same answer everywhere
        Consider(e.low);
        if (e.high != 0xFFFFFFFFu) Consider(e.high + 1);
    }

    bool found = false;
    uint32_t next = 0;  // the first version past `from` where a test may change
    std::vector<RolloutTest> rollouts;
    bool staged = false;  // the selection came from the staged list

private:
    void Consider(uint32_t boundary) {
        if (boundary <= m_from) return;
        if (!found || boundary < next) next = boundary;
        found = true;
    }
    uint32_t m_from;
    std::string m_package;
};

}  // namespace

std::vector<VersionRange> MapSelection(const std::string &manifestPath, uint32_t language,
                                       const StagedWalk *staged) {
    const CManifestReader manifest(HostPath(manifestPath));
    std::vector<VersionRange> ranges;
    uint32_t low = 0;
    for (;;) {
        BoundaryFinder finder(low);
        std::string section;
        const bool selected = SelectFor(manifest, low, language, staged, &finder, section);
        const uint32_t high = finder.found ? finder.next - 1 : 0xFFFFFFFFu;

        if (!ranges.empty() && ranges.back().hasSelection == selected &&
            ranges.back().selected == section && ranges.back().staged == finder.staged &&
            ranges.back().rollouts == finder.rollouts) {
            ranges.back().high = high;
        } else {
            VersionRange range;
            range.low = low;
            range.high = high;
            range.hasSelection = selected;
            range.selected = section;
            range.staged = selected && finder.staged;
            range.rollouts = finder.rollouts;
            ranges.push_back(range);
        }
        if (!finder.found) break;
        low = finder.next;
    }
    return ranges;
}

}  // namespace marvostell::tools
