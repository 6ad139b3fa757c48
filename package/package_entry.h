// A selected package's entry in the manifest (Package, PackageSize, Md5) and
// the rules that make it usable. Pure: reads the manifest, touches no file.
#pragma once

#include <cstdint>
#include <string>

#include "framework/manifest_values.h"

namespace marvostell {

constexpr uint32_t kMaxPackageSize = 0x8000000;  // 128 MiB
// Md5 is compared by its first this many characters.
constexpr uint32_t kMd5Chars = 32;

// Why an entry is unusable, in the order the rules are applied.
enum class EntryFault {
    kNone,
    kSize,       // PackageSize is 0 (or not a number) or over kMaxPackageSize
    kMd5,        // Md5 has fewer than kMd5Chars characters
    kLocalName,  // the name after Package's last "/" is no safe local name
    kSha256,     // Sha256 is required and is not 64 hexadecimal digits
};

struct PackageEntry {
    std::string path;       // Package, trimmed: the path requested from the server
    uint32_t size = 0;      // PackageSize
    std::string md5;        // the first kMd5Chars characters of Md5, as written
    std::string localName;  // the package's file name in the local directory
    std::string sha256;     // Sha256 as written, trimmed
    EntryFault fault = EntryFault::kNone;
};

// Reads and judges the entry of `section` as a host does; a host that checks
// signatures also needs a well-formed Sha256.
PackageEntry ReadPackageEntry(const CManifestValues &manifest, const char *section,
                              bool sha256Required = false);

// Whether `text` is a SHA-256 as a manifest writes it: 64 hexadecimal digits
// of either case.
bool IsSha256Text(const std::string &text);

// The part of a Package value after its last "/" (a "/" that is the second
// byte of a double-byte character does not count).
std::string LocalNameOf(const std::string &packagePath);

// Whether `name` may name the package's file in the local directory: a file
// inside it, the same file on every platform (Windows drops a trailing dot or
// blank, and opens a device for CON, NUL, COM1...), and not the manifest copy.
bool IsSafeLocalName(const std::string &name);

}  // namespace marvostell
