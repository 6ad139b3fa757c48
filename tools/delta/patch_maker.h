// Makes a patch (docs/patch-format.md) from two files in memory, with the
// suffix-sort delta algorithm: the new file is scanned for long matches in
// the old one (found through its suffix array); a match, widened forwards and
// backwards while it holds mostly equal bytes, becomes a run of diff bytes
// (new minus old, mostly zeros, which zlib packs tightly), and what lies
// between matches goes to the extra stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace marvostell::tools {

// The whole patch file, or false with `error` set (a file over 2 GiB, the
// suffix sort or zlib failing).
bool MakePatch(const std::vector<uint8_t> &oldFile, const std::vector<uint8_t> &newFile, std::string &patch,
               std::string &error);

// `data` as one zlib stream (RFC 1950) at level 9: a packed package, and
// each stream of a patch.
bool DeflateBytes(const uint8_t *data, size_t size, std::string &out);

}  // namespace marvostell::tools
