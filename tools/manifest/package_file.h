// A package file as a manifest describes it, shared by entry and new.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace marvostell::tools {

struct PackageFile {
    uint64_t size = 0;
    std::string md5;     // upper case, as hosts compare it
    std::string sha256;  // lower case, as sha256sum prints it; hosts take either
};

// Reads and digests `file` (keeping its bytes in `content` when given); on
// failure returns kExitFindings (refused: too big, empty) or kExitUsage
// (unreadable) with a message in `error`.
int ReadPackageFile(const std::string &file, PackageFile &out, std::string &error,
                    std::vector<uint8_t> *content = nullptr);

// Why hosts cannot use the server path or the section name; empty when they can.
// `warning` is set for a file name that is not ASCII.
std::string PathRefusal(const std::string &path, std::string &warning);
std::string SectionRefusal(const std::string &section);

// The section's text: [section], version (when `version` is given), Package,
// PackageSize, Md5 and Sha256, one a line.
std::string PackageSectionText(const std::string &section, const std::string *version, const std::string &path,
                               const PackageFile &file);

}  // namespace marvostell::tools
