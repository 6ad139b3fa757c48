// A patch section made as `patch` makes it, for `patch` and `new --patch-from`.
#pragma once

#include <string>

namespace marvostell::tools {

struct PatchWanted {
    std::string oldFile, newFile;  // the earlier package and the new one, on disk
    std::string from;              // the earlier package's local name on hosts
    std::string path;              // Patch=, the patch's path on the server
    std::string section;
};

struct PatchMade {
    std::string bytes;    // the patch file
    std::string text;     // its manifest section, "[section]\n" and the keys
    std::string share;    // what it costs, in words, for a note
};

// Makes the patch, refuses one over half the packed package, and applies it
// with the module's own applier: kExitOk, or kExitFindings / kExitUsage with
// why in `error`. Nothing is written.
int MakePatchSection(const PatchWanted &wanted, PatchMade &made, std::string &error);

}  // namespace marvostell::tools

#include <cstdint>
#include <set>
#include <vector>

namespace marvostell::tools {

class CVersionPattern;

struct NewPatch {
    std::string file;     // where the patch is to be written
    std::string section;
    PatchMade made;
};

// Patches to `newFile` from each earlier package in `dir` (with `pattern`,
// those it fits with a version below `newVersion`), smallest first, named
// after both files and written beside `newFile`; their sections take names
// not yet in `sections` (lower case). A file that gives no patch is left out
// with a note on stderr. False with a message when `dir` cannot be read.
bool PatchesFromDir(const std::string &dir, const std::string &newFile, uint32_t newVersion,
                    const CVersionPattern *pattern, const std::string &prefix, std::set<std::string> &sections,
                    std::vector<NewPatch> &patches, std::string &error);

}  // namespace marvostell::tools
