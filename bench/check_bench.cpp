// One CheckNewVersionEx call, for timing: check_bench URL DIR [TRUSTED_KEYS].
// Exits with the call's result (1: the package is downloaded and verified).
#include <cstdio>

#include "marvostell.h"

int main(int argc, char **argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: check_bench URL DIR [TRUSTED_KEYS]\n");
        return 2;
    }
    MarvostellOptions options{sizeof options, 0, argc == 4 ? argv[3] : nullptr, nullptr, 0, 0,
                              nullptr};
    char path[MARVOSTELL_PATH_BUFFER_SIZE];
    return CheckNewVersionEx(nullptr, 0, 0, argv[1], argv[2], path, sizeof path, &options, nullptr);
}
