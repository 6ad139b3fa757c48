// What a manifest tells people about a package, for the host to show: the
// version as people know it, where its release notes are, and whether it is
// critical. Only CheckNewVersionEx reads these keys.
#pragma once

#include <string>

#include "manifest/manifest_reader.h"

namespace marvostell {

// The longest texts a host receives, in bytes, without their NUL.
constexpr size_t kDisplayVersionBytes = 63;
constexpr size_t kNotesUrlBytes = 1023;

struct PackageDetails {
    std::string displayVersion;  // DisplayVersion=, cut to kDisplayVersionBytes
    std::string notesUrl;        // Notes=, cut to kNotesUrlBytes
    bool critical = false;       // Critical= a number other than 0
};

// The package section's details; a longer text is cut at a character
// boundary, and a missing key is empty (or not critical).
PackageDetails ReadPackageDetails(const CManifestReader &manifest, const std::string &section);

}  // namespace marvostell
