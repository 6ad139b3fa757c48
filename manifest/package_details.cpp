#include "manifest/package_details.h"

#include "framework/strings.h"
#include "manifest/number.h"

namespace marvostell {

PackageDetails ReadPackageDetails(const CManifestReader &manifest, const std::string &section) {
    PackageDetails details;
    details.displayVersion = manifest.Value(section.c_str(), "DisplayVersion", "");
    CutAtCharacter(details.displayVersion, kDisplayVersionBytes);
    // Read one character past what fits, so that a longer one is cut here.
    details.notesUrl = manifest.LongValue(section.c_str(), "Notes", kNotesUrlBytes + 2);
    CutAtCharacter(details.notesUrl, kNotesUrlBytes);
    const std::string critical = manifest.Value(section.c_str(), "Critical", "");
    details.critical = !critical.empty() && ParseManifestNumber(critical.c_str()) != 0;
    return details;
}

}  // namespace marvostell
