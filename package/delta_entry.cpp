#include "package/delta_entry.h"

#include "framework/strings.h"
#include "package/package_entry.h"

namespace marvostell {
namespace {

std::string Trimmed(const CManifestValues &manifest, const char *section, const char *key) {
    std::string value = manifest.Value(section, key, "");
    TrimWhitespace(value);
    return value;
}

// `prefix` names the keys: "Packed" reads Packed, PackedSize, PackedSha256.
bool ReadServedFile(const CManifestValues &manifest, const char *section, const std::string &prefix,
                    ServedFile &file) {
    file.path = Trimmed(manifest, section, prefix.c_str());
    file.size = manifest.Number(section, (prefix + "Size").c_str());
    file.sha256 = Trimmed(manifest, section, (prefix + "Sha256").c_str());
    return !file.path.empty() && file.size != 0 && file.size <= kMaxPackageSize && IsSha256Text(file.sha256);
}

// A base is another file of the local directory itself: never one reached
// through a "/" (a separator on both platforms), nor the package itself, nor
// a file the module writes beside it.
bool IsUsableBase(const std::string &from, const std::string &localName) {
    if (!IsSafeLocalName(from) || from.find('/') != std::string::npos || EqualIgnoringAsciiCase(from, localName)) return false;
    const std::string::size_type dot = from.rfind('.');
    return dot == std::string::npos || !EqualIgnoringAsciiCase(from.substr(dot), ".err");
}

}  // namespace

DeltaOffer ReadDeltaOffer(const CManifestValues &manifest, const char *section,
                          const std::string &localName) {
    DeltaOffer offer;
    offer.packed = ReadServedFile(manifest, section, "Packed", offer.packedFile);
    const std::string list = manifest.Value(section, "Patches", "");
    std::string::size_type at = 0;
    while (offer.patches.size() < kMaxPatches) {
        at = list.find_first_not_of(", ;\t", at);
        if (at == std::string::npos) break;
        const std::string::size_type end = list.find_first_of(", ;\t", at);
        PatchEntry entry;
        entry.section = list.substr(at, end == std::string::npos ? end : end - at);
        at = end;
        const char *name = entry.section.c_str();
        entry.from = Trimmed(manifest, name, "From");
        entry.fromSize = manifest.Number(name, "FromSize");
        entry.fromSha256 = Trimmed(manifest, name, "FromSha256");
        if (ReadServedFile(manifest, name, "Patch", entry.patch) && IsUsableBase(entry.from, localName) &&
            entry.fromSize != 0 && entry.fromSize <= kMaxPackageSize && IsSha256Text(entry.fromSha256))
            offer.patches.push_back(entry);
    }
    return offer;
}

}  // namespace marvostell
