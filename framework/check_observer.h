// What a check does, as events for tools: the package selection's decisions,
// one per test it makes (to explain a selection or map it over every host
// version), and the package step's transfer and digest. The module's own
// calls have no observer and behave the same with one.
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
        kRollout,      // a staged package's Rollout: text as read, number the percentage;
                       // bucket: the host's (kNoBucket when it has no identity, or
                       // none was asked for); passed: the host is in the rollout
        kRolloutIgnored,  // the host asked for any staged release: passed unless number is 0
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
    bool staged = false;   // the event belongs to the walk of the staged list
    uint32_t bucket = 0xFFFFFFFFu;
};

struct PackageEvent {
    enum Kind {
        kEntry,       // the selected package's entry was read and is usable: section,
                      // path, localPath, size
        kRequest,     // a transfer asks for the bytes from `from` on
        kAnswer,      // status: the package request's HTTP status (0 when unread)
        kTransferEnd, // received: the bytes this transfer appended; from: where it began
        kDigest,      // computed and expected digests of localPath; passed: they match
        kMovedAside,  // the rejected file went from localPath to movedTo
        kDelta,       // a smaller file (path, size) is fetched into localPath; movedTo:
                      // the earlier package a patch applies to, or empty for the packed one
        kDeltaFellBack,  // the smaller file did not work out (expected: why); the whole
                         // package follows
    };

    Kind kind;
    const char *section = "";
    const char *path = "";       // the package's path on the server
    const char *localPath = "";
    const char *movedTo = "";
    const char *computed = "";
    const char *expected = "";
    const char *computedSha256 = "";  // kDigest, when the manifest is signed
    const char *expectedSha256 = "";
    uint32_t size = 0;
    uint32_t from = 0;
    uint32_t received = 0;
    uint32_t status = 0;
    bool passed = false;
};

// The manifest request's answer, once its status line came back.
struct ManifestEvent {
    uint32_t status = 0;  // the HTTP status
    uint32_t bytes = 0;   // the body's bytes read (at most the manifest limit)
};

// Events arrive on the thread that runs the check, in the order they happen.
// Their texts live only as long as the call that delivers them: an observer
// that keeps one keeps a copy.
class CCheckObserver {
public:
    virtual ~CCheckObserver() = default;
    virtual void OnSelectionEvent(const SelectionEvent &) {}
    virtual void OnPackageEvent(const PackageEvent &) {}
    virtual void OnManifestEvent(const ManifestEvent &) {}
};

}  // namespace marvostell
