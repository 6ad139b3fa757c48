// What a signed package section may offer besides Package: the package
// packed (Packed, PackedSize, PackedSha256) and patches from earlier packages
// (Patches, naming sections with From, FromSize, FromSha256, Patch,
// PatchSize, PatchSha256). Pure: reads the manifest, touches no file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "framework/manifest_values.h"

namespace marvostell {

// A file on the server and what it must be before it is used.
struct ServedFile {
    std::string path;    // requested from the package's server
    uint32_t size = 0;
    std::string sha256;  // 64 hexadecimal digits
};

struct PatchEntry {
    std::string section;
    std::string from;    // the earlier package's name in the local directory
    uint32_t fromSize = 0;
    std::string fromSha256;
    ServedFile patch;
};

struct DeltaOffer {
    bool packed = false;
    ServedFile packedFile;
    std::vector<PatchEntry> patches;  // the usable ones, in the manifest's order
};

// At most this many sections of Patches are read; a manifest of 4,096 bytes
// holds fewer.
constexpr size_t kMaxPatches = 16;

// Reads `section`'s smaller downloads for a package stored locally as
// `localName`. An entry with a missing or malformed value is left out (lint
// names it to the publisher); the whole package remains the answer then.
DeltaOffer ReadDeltaOffer(const CManifestValues &manifest, const char *section,
                          const std::string &localName);

}  // namespace marvostell
