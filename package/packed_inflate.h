// A packed package: the package as one zlib stream (RFC 1950: a two-byte
// header, deflate data, the Adler-32 of the package), nothing before or
// after it. Inflated streaming, in fixed buffers whatever the size.
#pragma once

#include <cstdint>

#include "package/delta_io.h"
#include "platform/win32.h"

namespace marvostell {

// Inflates the whole of `packed` into `output` (from its current position).
// The stream must end exactly at the file's end and inflate to exactly
// `expectedSize` bytes (at most 2 GiB); nothing past that size is written.
// On failure the output holds a part and is the caller's to delete.
DeltaResult InflatePacked(HANDLE packed, HANDLE output, uint64_t expectedSize, const DeltaControl &control = {});

}  // namespace marvostell
