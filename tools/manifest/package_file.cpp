#include "package_file.h"

#include <fstream>

#include "commands.h"
#include "manifest/manifest_reader.h"
#include "manifest_source.h"
#include "package/digest.h"
#include "package/package_entry.h"
#include "package_name.h"
#include "platform/crypto.h"
#include "text.h"

namespace marvostell::tools {
namespace {

// The reader keeps room for the terminator.
constexpr size_t kMaxChars = kValueBufferSize - 1;

}  // namespace

int ReadPackageFile(const std::string &file, PackageFile &out, std::string &error,
                    std::vector<uint8_t> *content) {
    if (!IsRegularFile(file)) {
        error = file + " is not a regular file (or does not exist)";
        return kExitUsage;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        error = "cannot read " + file;
        return kExitUsage;
    }
    CMd5Hex md5;
    crypto::CSha256 sha256;
    out.size = 0;
    if (content) content->clear();
    char chunk[65536];
    while (in.read(chunk, sizeof chunk).gcount() > 0) {
        out.size += static_cast<uint64_t>(in.gcount());
        if (out.size > kMaxPackageSize) {
            error = file + " is over " + std::to_string(kMaxPackageSize) + " bytes (128 MiB), more than hosts accept";
            return kExitFindings;
        }
        md5.Add(chunk, static_cast<size_t>(in.gcount()));
        sha256.Add(chunk, static_cast<size_t>(in.gcount()));
        if (content) content->insert(content->end(), chunk, chunk + in.gcount());
    }
    if (in.bad()) {
        error = "cannot read " + file;
        return kExitUsage;
    }
    if (out.size == 0) {
        error = file + " is empty: hosts refuse a PackageSize of 0";
        return kExitFindings;
    }
    out.md5 = md5.Finish();
    uint8_t sum[crypto::kSha256Bytes];
    if (!sha256.Finish(sum)) {
        error = "the platform's SHA-256 could not be loaded";
        return kExitFindings;
    }
    out.sha256 = Lower(DigestHex(sum, sizeof sum));
    return kExitOk;
}

std::string PathRefusal(const std::string &path, std::string &warning) {
    if (path.empty() || path[0] != '/') return "the path must start with \"/\": " + path;
    if (path.size() > kMaxChars)
        return "the path is longer than the " + std::to_string(kMaxChars) + " characters hosts read";
    for (unsigned char c : path)
        if (c < 0x20 || c == 0x7F) return "the path holds a control character";
    if (path.back() == ' ' || path.back() == '\t') return "the path ends in a blank, which hosts trim";
    const std::string local = LocalNameOf(path);
    const std::string reason = RefusedNameReason(local);
    if (!reason.empty()) return "the file name \"" + local + "\": " + reason;
    if (!IsAscii(local))
        warning = "the file name is not ASCII: its bytes name different files on Windows and Linux";
    return "";
}

std::string SectionRefusal(const std::string &section) {
    if (section.empty() || section.size() > kMaxChars || section.find_first_of(",; \t[]") != std::string::npos ||
        SameName(section, "General"))
        return "the section name \"" + section +
               "\" cannot stand in the update list (no blanks, commas, semicolons or "
               "brackets, and not General)";
    return "";
}

std::string PackageSectionText(const std::string &section, const std::string *version, const std::string &path,
                               const PackageFile &file) {
    std::string text = "[" + section + "]\n";
    if (version) text += "version=" + *version + "\n";
    return text + "Package=" + path + "\nPackageSize=" + std::to_string(file.size) + "\nMd5=" + file.md5 +
           "\nSha256=" + file.sha256 + "\n";
}

}  // namespace marvostell::tools
