// verify's look at a package's smaller downloads: each patch and the packed
// package fetched, checked against its size and SHA-256, turned into the
// package by the module's own applier or inflater, and the result held to
// the package's size, Md5 and Sha256.
#pragma once

#include <string>
#include <vector>

#include "findings.h"
#include "manifest_source.h"

namespace marvostell::tools {

struct DeltaVerified {
    std::string package, kind, section, path;  // kind: "patch" or "packed"
    std::string base;     // a patch's base file, "" when not applied
    std::string outcome;  // in words
    bool good = false;    // fetched, checked, applied and the result matches
};

// `baseDir` holds the earlier packages the patches apply to ("" for none:
// patches are fetched and checked, not applied).
std::vector<DeltaVerified> VerifyDeltas(const ManifestSource &source, const std::string &package,
                                        const std::string &baseDir, unsigned stallSeconds, Findings &findings);

}  // namespace marvostell::tools
