#include "manifest/selection.h"

#include <cstring>

#include "framework/trace.h"
#include "manifest/number.h"

namespace marvostell {
namespace {

// Tells the observer, when there is one.
class CNotifier {
public:
    explicit CNotifier(CCheckObserver *observer) : m_pObserver(observer) {}
    void operator()(const SelectionEvent &event) const {
        if (m_pObserver) m_pObserver->OnSelectionEvent(event);
    }

private:
    CCheckObserver *m_pObserver;
};

bool IsListSeparator(char c) { return c == ',' || c == ';' || c == ' ' || c == '\t'; }

// Cuts a range value to its first name.
void CutToFirstName(char *value) {
    char *p = value;
    while (*p && !IsListSeparator(*p)) ++p;
    *p = '\0';
}

bool StartsWithVer(const char *name) {
    return (name[0] == 'v' || name[0] == 'V') && (name[1] == 'e' || name[1] == 'E') &&
           (name[2] == 'r' || name[2] == 'R');
}

const SelectionEvent &StartRange(SelectionEvent &event, const char *key, const char *asRead,
                                 const char *section, bool support) {
    event.kind = SelectionEvent::kRangeStart;
    event.key = key;
    event.text = asRead;
    event.section = section;
    event.support = support;
    event.passed = false;
    return event;
}

const SelectionEvent &EndRange(SelectionEvent &event, bool inRange) {
    event.kind = SelectionEvent::kRangeEnd;
    event.passed = inRange;
    return event;
}

SelectionEvent BoundEvent(const char *section, bool support, const char *key, const char *text,
                          uint32_t low, uint32_t high, uint32_t currentVersion) {
    SelectionEvent event{SelectionEvent::kRangeBound};
    event.section = section;
    event.support = support;
    event.key = key;
    event.text = text;
    event.low = low;
    event.high = high;
    event.passed = low <= currentVersion && currentVersion <= high;
    return event;
}

// Whether the host is in the staged package's rollout; the identity is
// asked for only here, so that a check that never reaches a staged
// package's last test neither reads nor makes it.
bool InRollout(const CManifestReader &manifest, const char *name, const RolloutRules &rules,
               const CNotifier &Notify, SelectionEvent &event) {
    char value[kValueBufferSize];
    manifest.Read(name, "Rollout", "", value);
    const uint32_t percent = value[0] ? ParseManifestNumber(value) : 0;
    event.kind = rules.ignore ? SelectionEvent::kRolloutIgnored : SelectionEvent::kRollout;
    event.text = value;
    event.number = percent;
    event.bucket = kNoBucket;
    if (percent == 0 || rules.ignore || rules.admitAll) {
        event.passed = percent != 0;
    } else {
        const std::string *id = rules.identity ? rules.identity->Get() : nullptr;
        uint32_t bucket = kNoBucket;
        event.passed = id && RolloutBucket(*id, name, bucket) && IsAdmitted(bucket, percent);
        event.bucket = bucket;
    }
    Trace("marvostell!check package: %s, Rollout %s, bucket %u\n", name, value,
          static_cast<unsigned>(event.bucket));
    Notify(event);
    event.bucket = kNoBucket;
    return event.passed;
}

// Whether the range section admits `currentVersion`: `support` selects the
// rules of a Support range (an empty or missing section admits every version)
// over those of an Unsupport range (it admits none).
bool IsVersionInRange(const CManifestReader &manifest, const char *section,
                      uint32_t currentVersion, bool support, CCheckObserver *observer) {
    const CNotifier Notify(observer);
    char value[kValueBufferSize];
    manifest.Read(section, "lower", "", value);
    if (value[0] != '\0') {
        const uint32_t lower = ParseManifestNumber(value);
        Notify(BoundEvent(section, support, "lower", value, 0, lower, currentVersion));
        if (currentVersion <= lower) return true;
    }
    manifest.Read(section, "greater", "", value);
    if (value[0] != '\0') {
        const uint32_t greater = ParseManifestNumber(value);
        Notify(BoundEvent(section, support, "greater", value, greater, 0xFFFFFFFFu, currentVersion));
        if (currentVersion >= greater) return true;
    }

    // A read without a key name lists the section's key names, each ended by a
    // terminator; an empty or missing section admits every version when it
    // names the supported range.
    char keys[kValueBufferSize];
    const DWORD listLength = manifest.Read(section, nullptr, "", keys);
    if (listLength == 0 || keys[0] == '\0') {
        SelectionEvent event{SelectionEvent::kRangeEmpty};
        event.section = section;
        event.support = support;
        event.passed = support;
        Notify(event);
        return support;
    }

    for (DWORD offset = 0; offset < listLength && keys[offset] != '\0';
         offset += static_cast<DWORD>(std::strlen(keys + offset)) + 1) {
        const char *key = keys + offset;
        if (!StartsWithVer(key)) continue;
        manifest.Read(section, key, "", value);
        if (value[0] == '\0') continue;
        const char *stop = nullptr;
        const uint32_t low = ParseManifestNumber(value, &stop);
        if (support && low == 0xFFFFFFFFu) {
            SelectionEvent event =
                BoundEvent(section, support, key, value, 0, 0xFFFFFFFFu, currentVersion);
            event.kind = SelectionEvent::kRangeAll;
            Notify(event);
            return true;
        }
        const uint32_t high = *stop == '-' ? ParseManifestNumber(stop + 1) : low;
        Notify(BoundEvent(section, support, key, value, low, high, currentVersion));
        if (low <= currentVersion && currentVersion <= high) return true;
    }
    return false;
}

// Walks the list `listKey` of [General]: the update list, or, with
// `rollout`, the staged one. An observer, when there is one, is told of
// every test of the host's version with the interval it admits; a map of the
// selection over all versions relies on seeing each such test.
bool WalkList(const CManifestReader &manifest, const char *listKey, uint32_t currentVersion,
              uint32_t wantedLanguage, const RolloutRules *rollout, CCheckObserver *observer,
              std::string &section, uint32_t *version) {
    const CNotifier Notify(observer);
    const bool staged = rollout != nullptr;
    char list[kValueBufferSize];
    manifest.Read("General", listKey, "", list);
    if (list[0] == '\0') {
        if (staged) return false;  // most manifests have none
        Notify({SelectionEvent::kListMissing});
        Trace("marvostell!update null\n");
        return false;
    }

    char *next = list;
    for (;;) {
        while (*next == ' ' || *next == '\t') ++next;
        if (*next == '\0') {
            SelectionEvent end{SelectionEvent::kListEnd};
            end.staged = staged;
            Notify(end);
            return false;
        }
        char *name = next;
        while (*next && !IsListSeparator(*next)) ++next;
        if (*next) *next++ = '\0';
        SelectionEvent event{SelectionEvent::kPackage};
        event.package = name;
        event.staged = staged;
        Notify(event);

        Trace("marvostell!check package: %s\n", name);

        char value[kValueBufferSize];
        char asRead[kValueBufferSize];  // a range value before its cut, for the observer
        manifest.Read(name, "version", "", value);
        if (value[0] == '\0') {
            event.kind = SelectionEvent::kNoVersion;
            Notify(event);
            continue;
        }
        const uint32_t packageVersion = ParseManifestNumber(value);
        // Newer: the host's version is in [0, packageVersion - 1].
        event.kind = SelectionEvent::kVersion;
        event.text = value;
        event.number = packageVersion;
        event.low = packageVersion == 0 ? 1 : 0;
        event.high = packageVersion == 0 ? 0 : packageVersion - 1;
        event.passed = packageVersion > currentVersion;
        Notify(event);
        event.low = 1;
        event.high = 0;
        if (packageVersion <= currentVersion) continue;

        manifest.Read(name, "language", "", value);
        Trace("marvostell!check package: %s, version %x, language %s\n", name,
              static_cast<unsigned>(packageVersion), value);
        if (value[0] != '\0') {
            const uint32_t language = ParseManifestNumber(value);
            event.kind = SelectionEvent::kLanguage;
            event.text = value;
            event.number = language;
            event.passed = language == 0 || language == wantedLanguage;
            Notify(event);
            if (!event.passed) continue;
        }

        manifest.Read(name, "Unsupport", "", value);
        Trace("marvostell!check package: %s, IsUnSupportVersion %s\n", name, value);
        if (value[0] != '\0') {
            std::memcpy(asRead, value, std::strlen(value) + 1);
            CutToFirstName(value);
            Notify(StartRange(event, "Unsupport", asRead, value, false));
            const bool inRange = IsVersionInRange(manifest, value, currentVersion, false, observer);
            Notify(EndRange(event, inRange));
            if (inRange) continue;
        }

        manifest.Read(name, "Support", "", value);
        if (value[0] != '\0') {
            std::memcpy(asRead, value, std::strlen(value) + 1);
            CutToFirstName(value);
            Trace("marvostell!check package: %s, IsSupportVersion %s\n", name, value);
            Notify(StartRange(event, "Support", asRead, value, true));
            const bool inRange = IsVersionInRange(manifest, value, currentVersion, true, observer);
            Notify(EndRange(event, inRange));
            if (!inRange) continue;
        }

        if (staged && !InRollout(manifest, name, *rollout, Notify, event)) continue;

        section = name;
        if (version) *version = packageVersion;
        event.kind = SelectionEvent::kSelected;
        event.number = packageVersion;
        event.text = event.key = event.section = "";
        Notify(event);
        Trace("Marvostell!HasNewVersion 0x%x, CurrentVersion 0x%x\n",
              static_cast<unsigned>(packageVersion), static_cast<unsigned>(currentVersion));
        return true;
    }
}

}  // namespace

bool SelectPackage(const CManifestReader &manifest, uint32_t currentVersion,
                   uint32_t wantedLanguage, CCheckObserver *observer, std::string &section,
                   uint32_t *version) {
    return WalkList(manifest, "update", currentVersion, wantedLanguage, nullptr, observer, section,
                    version);
}

bool SelectStagedOrUpdate(const CManifestReader &manifest, uint32_t currentVersion,
                          uint32_t wantedLanguage, const RolloutRules &rules,
                          CCheckObserver *observer, std::string &section, uint32_t &version,
                          bool &staged) {
    staged = WalkList(manifest, "staged", currentVersion, wantedLanguage, &rules, observer,
                      section, &version);
    return staged || SelectPackage(manifest, currentVersion, wantedLanguage, observer, section,
                                   &version);
}

}  // namespace marvostell
