// Applies a patch or inflates a packed file as the module will: through its
// applier or inflater, on Win32 file handles. "none" opens nothing, so that
// its peak memory is the baseline the others are compared with.
//
//   delta_bench patch BASE PATCH OUTPUT SIZE | inflate PACKED OUTPUT SIZE | none
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/files.h"
#include "package/packed_inflate.h"
#include "package/patch_apply.h"

using namespace marvostell;

namespace {

HANDLE Open(const char *path, bool write) {
    return CreateFileA(path, write ? GENERIC_WRITE : GENERIC_READ, write ? 0 : FILE_SHARE_READ, nullptr,
                       write ? CREATE_NEW : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

int main(int argc, char **argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "none") return 0;
    const bool patch = mode == "patch";
    if ((patch && argc != 6) || (mode == "inflate" && argc != 5) || (!patch && mode != "inflate")) {
        std::fprintf(stderr, "usage: delta_bench patch BASE PATCH OUTPUT SIZE | inflate PACKED OUTPUT SIZE | none\n");
        return 2;
    }
    const int first = patch ? 3 : 2;
    CFileHandle base(patch ? Open(argv[2], false) : INVALID_HANDLE_VALUE);
    CFileHandle input(Open(argv[first], false));
    CFileHandle output(Open(argv[first + 1], true));
    if ((patch && !base.IsOpen()) || !input.IsOpen() || !output.IsOpen()) {
        std::fprintf(stderr, "delta_bench: cannot open the files (error %u)\n", static_cast<unsigned>(GetLastError()));
        return 1;
    }
    const uint64_t size = std::strtoull(argv[first + 2], nullptr, 10);
    const DeltaResult result = patch ? ApplyPatch(base.Get(), input.Get(), output.Get(), size)
                                     : InflatePacked(input.Get(), output.Get(), size);
    if (!result.Ok()) {
        std::fprintf(stderr, "delta_bench: %s (%u)\n", DeltaFaultText(result.fault),
                     static_cast<unsigned>(result.code));
        return 1;
    }
    return 0;
}
