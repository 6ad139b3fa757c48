// The package selection's decisions, one event per test it makes, for tools
// that explain a selection or map it over every host version. The module's
// own calls have no observer and behave the same with one.
#pragma once

#include <cstdint>

namespace marvostell {

struct SelectionEvent {
    enum Kind {
        kListMissing,  // the update list of [General] is empty or missing
        kListEnd,      // the list ended without a selection
        kPackage,      // a name taken from the list (package)
        kNoVersion,    // the package section has no version value
        kVersion,      // number: the package's version; passed: newer than the host
        kLanguage,     // text: the language as read; number: its value; passed: admitted
        kRangeStart,   // key: "Unsupport" or "Support"; text: the value as read;
                       // section: its first name, the range section tested
        kRangeBound,   // key and text: a lower, greater or ver key and its value
        kRangeEmpty,   // the range section has no keys, or is missing
        kRangeAll,     // a Support ver key whose first number is 0xFFFFFFFF
        kRangeEnd,     // passed: the host's version is in the range
        kSelected,     // number: the package's version
    };

    Kind kind;
    const char *package = "";  // the package being considered
    const char *section = "";  // the range section, for the range events
    const char *key = "";
    const char *text = "";
    uint32_t number = 0;
    // Every test of the host's version is "is it in [low, high]?"; outcome in
    // `passed`. low > high stands for an empty interval (never in it).
    uint32_t low = 1;
    uint32_t high = 0;
    bool support = false;  // range events: a Support range (else Unsupport)
    bool passed = false;
};

class CSelectionObserver {
public:
    virtual ~CSelectionObserver() = default;
    virtual void OnSelectionEvent(const SelectionEvent &event) = 0;
};

}  // namespace marvostell
