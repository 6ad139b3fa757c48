// Package selection (the staged list first, for a host of a fixed identity),
// the package's details, its patches and packed file, and the package
// entry's checks on any manifest. The
// input's first line is the host's version (the manifest's number rule), the
// rest the manifest. The details fit the offer's fields. The server name is one no request can be sent to, so a
// package entry that passes its checks ends in the failed request (12007)
// before any file is opened: the local directory must hold the manifest alone
// afterwards, and the result is that failure or 5.
#include <dirent.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz_files.h"
#include "manifest/number.h"
#include "manifest/package_details.h"
#include "manifest/selection.h"
#include "package/delta_entry.h"
#include "package/package_entry.h"
#include "package/package_step.h"
#include "package/transfer.h"

namespace {

int FilesIn(const std::string &dir) {
    int count = 0;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *entry = readdir(d))
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) ++count;
        closedir(d);
    }
    return count;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const char *text = reinterpret_cast<const char *>(data);
    const size_t lineEnd = std::find(text, text + size, '\n') - text;
    const std::string versionText(text, lineEnd);
    const uint32_t version = marvostell::ParseManifestNumber(versionText.c_str());
    const size_t skip = lineEnd < size ? lineEnd + 1 : size;

    const std::string &dir = marvostell::fuzzing::ScratchDir();
    marvostell::fuzzing::WriteWhole(dir + "/update.ini", data + skip, size - skip);

    const marvostell::CManifestReader manifest(dir + "/update.ini");
    std::string section;
    marvostell::CHostIdentity identity =
        marvostell::CHostIdentity::Given("0123456789abcdef0123456789abcdef");
    marvostell::RolloutRules rules;
    rules.identity = &identity;
    uint32_t selected = 0;
    bool staged = false;
    if (!marvostell::SelectStagedOrUpdate(manifest, version, 0, rules, nullptr, section, selected,
                                          staged))
        return 0;
    if (section.size() > 254) std::abort();
    const marvostell::PackageDetails details = marvostell::ReadPackageDetails(manifest, section);
    if (details.displayVersion.size() > marvostell::kDisplayVersionBytes ||
        details.notesUrl.size() > marvostell::kNotesUrlBytes)
        std::abort();

    // Every patch kept names a base inside the directory, other than the package.
    const marvostell::DeltaOffer offer = marvostell::ReadDeltaOffer(manifest, section.c_str(), "p.bin");
    if (offer.patches.size() > marvostell::kMaxPatches) std::abort();
    for (const marvostell::PatchEntry &patch : offer.patches)
        if (!marvostell::IsSafeLocalName(patch.from) || patch.from == "p.bin" || patch.patch.size == 0 ||
            patch.patch.size > marvostell::kMaxPackageSize)
            std::abort();

    static BYTE buffer[marvostell::kPackagePieceSize];
    const marvostell::CheckRules plain;
    const marvostell::PackageStepRequest request{manifest, section, "no request.invalid", dir,
                                                 plain,    buffer};
    marvostell::PackageStepReport report;
    const marvostell::StepResult result = marvostell::FetchPackage(request, report);
    using marvostell::Stage;
    if (result.stage != Stage::kPackageEntry &&
        !(result.stage == Stage::kPackageRequest && result.code == 12007))
        std::abort();
    if (!report.pathForHost.empty() || FilesIn(dir) != 1) std::abort();
    return 0;
}
