// Selection of the package to fetch from the manifest's package list.
#include <cstring>

#include "entry/trace.h"
#include "entry/update_client.h"
#include "manifest/number.h"

namespace marvostell {
namespace {

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

}  // namespace

int CUpdateClient::FindNewPackage(uint32_t currentVersion, uint32_t wantedLanguage) {
    if (!m_bManifestFetched) return 0;

    char list[kValueBufferSize];
    ReadValue("General", "update", "", list);
    if (list[0] == '\0') {
        Trace("marvostell!update null\n");
        return 0;
    }

    char *next = list;
    for (;;) {
        while (*next == ' ' || *next == '\t') ++next;
        if (*next == '\0') return 0;
        char *name = next;
        while (*next && !IsListSeparator(*next)) ++next;
        if (*next) *next++ = '\0';

        Trace("marvostell!check package: %s\n", name);

        char value[kValueBufferSize];
        ReadValue(name, "version", "", value);
        if (value[0] == '\0') continue;
        const uint32_t packageVersion = ParseManifestNumber(value);
        if (packageVersion <= currentVersion) continue;

        ReadValue(name, "language", "", value);
        Trace("marvostell!check package: %s, version %x, language %s\n", name,
              static_cast<unsigned>(packageVersion), value);
        if (value[0] != '\0') {
            const uint32_t language = ParseManifestNumber(value);
            if (language != 0 && language != wantedLanguage) continue;
        }

        ReadValue(name, "Unsupport", "", value);
        Trace("marvostell!check package: %s, IsUnSupportVersion %s\n", name, value);
        if (value[0] != '\0') {
            CutToFirstName(value);
            if (IsUnSupportVersion(value, currentVersion)) continue;
        }

        ReadValue(name, "Support", "", value);
        if (value[0] != '\0') {
            CutToFirstName(value);
            Trace("marvostell!check package: %s, IsSupportVersion %s\n", name, value);
            if (!IsSupportVersion(value, currentVersion)) continue;
        }

        m_strPackageSection = name;
        Trace("Marvostell!HasNewVersion 0x%x, CurrentVersion 0x%x\n",
              static_cast<unsigned>(packageVersion), static_cast<unsigned>(currentVersion));
        return 1;
    }
}

int CUpdateClient::IsUnSupportVersion(const char *section, uint32_t currentVersion) {
    return IsVersionInRange(section, currentVersion, false);
}

int CUpdateClient::IsSupportVersion(const char *section, uint32_t currentVersion) {
    return IsVersionInRange(section, currentVersion, true);
}

int CUpdateClient::IsVersionInRange(const char *section, uint32_t currentVersion, bool support) {
    char value[kValueBufferSize];
    ReadValue(section, "lower", "", value);
    if (value[0] != '\0' && currentVersion <= ParseManifestNumber(value)) return 1;
    ReadValue(section, "greater", "", value);
    if (value[0] != '\0' && currentVersion >= ParseManifestNumber(value)) return 1;

    // A read without a key name lists the section's key names, each ended by a
    // terminator; an empty or missing section admits every version when it
    // names the supported range.
    char keys[kValueBufferSize];
    const DWORD listLength = ReadValue(section, nullptr, "", keys);
    if (listLength == 0 || keys[0] == '\0') return support ? 1 : 0;

    for (DWORD offset = 0; offset < listLength && keys[offset] != '\0';
         offset += static_cast<DWORD>(std::strlen(keys + offset)) + 1) {
        const char *key = keys + offset;
        if (!StartsWithVer(key)) continue;
        ReadValue(section, key, "", value);
        if (value[0] == '\0') continue;
        const char *stop = nullptr;
        const uint32_t low = ParseManifestNumber(value, &stop);
        if (support && low == 0xFFFFFFFFu) return 1;
        const uint32_t high = *stop == '-' ? ParseManifestNumber(stop + 1) : low;
        if (low <= currentVersion && currentVersion <= high) return 1;
    }
    return 0;
}

}  // namespace marvostell
