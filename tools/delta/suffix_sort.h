// Suffix arrays for the patch maker. The Linux tools sort with Debian's
// libdivsufsort; where there is none (the Windows tools) SortSuffixes, which
// the tests compare with libdivsufsort, does it.
#pragma once

#include <cstdint>

namespace marvostell::tools {

// The start of every suffix of text[0, n), in lexicographic order (a suffix
// comes before the longer ones it begins), as libdivsufsort's divsufsort
// gives them: induced sorting, in linear time.
void SortSuffixes(const uint8_t *text, int32_t *suffixes, int32_t n);

// SortSuffixes, or libdivsufsort where the build found it; false when the
// latter fails.
bool BuildSuffixArray(const uint8_t *text, int32_t *suffixes, int32_t n);

}  // namespace marvostell::tools
