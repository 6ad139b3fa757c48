// Applies a patch (docs/patch-format.md) to a base file, streaming: the base
// is read where the control triples point, the three streams are inflated as
// they are needed, and the result is written from start to end. Memory is a
// few fixed buffers (under 1 MiB) whatever the files' sizes.
#pragma once

#include <cstdint>

#include "package/delta_io.h"
#include "package/patch_format.h"
#include "platform/win32.h"

namespace marvostell {

// Reads and checks the header against the patch file's size: the lengths'
// bounds and sums, not the base or the streams. `header` is filled when the
// magic is ours.
DeltaResult ReadPatchHeader(HANDLE patch, PatchHeader &header);

// Makes the result of `expectedSize` bytes from `base` (opened for reading,
// best denying writers) and `patch`, appending it to `output` from its
// current position. The base must be the size the patch names. On failure
// the output holds a part and is the caller's to delete.
DeltaResult ApplyPatch(HANDLE base, HANDLE patch, HANDLE output, uint64_t expectedSize,
                       const DeltaControl &control = {});

}  // namespace marvostell
