// Package files named after their versions: new --from-dir takes every file
// of a folder whose name fits a pattern, with the version the name gives.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace marvostell::tools {

// A file name in which {major} and {minor}, and optionally {patch}, stand
// for decimal numbers: the version is major in the high 16 bits and minor in
// the low 16 (app-2.1.exe is 0x00020001), or, with a patch, minor and patch
// a byte each (app-2.1.3.exe is 0x00020103). {version} stands instead for
// the whole version as manifests write it (decimal, or 0x and hexadecimal).
class CVersionPattern {
public:
    // False with a message for a pattern that names no version, names a part
    // twice, or puts two parts side by side.
    bool Parse(const std::string &pattern, std::string &error);
    // Whether `name` fits, with the version it gives; false for a name that
    // does not fit or a part too large for its bits.
    bool Match(const std::string &name, uint32_t &version) const;

private:
    struct Piece {
        std::string text;  // literal text, or the part's name for a part
        bool part = false;
    };
    std::vector<Piece> m_pieces;
    bool m_patch = false;
};

struct VersionedFile {
    std::string path;
    uint32_t version = 0;
};

// The regular files of `dir` that fit the pattern, in name order; the names
// of the others go to `skipped`. False with a message when `dir` cannot be read.
bool FilesByVersion(const std::string &dir, const CVersionPattern &pattern, std::vector<VersionedFile> &files,
                    std::vector<std::string> &skipped, std::string &error);

}  // namespace marvostell::tools
