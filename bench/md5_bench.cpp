// Prints the MD5 of a file read as the package check reads it: pieces of
// 8192 bytes through one buffer.
#include <cstdio>

#include "package/hex.h"
#include "package/md5.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: md5_bench FILE\n");
        return 2;
    }
    std::FILE *file = std::fopen(argv[1], "rb");
    if (!file) {
        std::perror(argv[1]);
        return 1;
    }
    static unsigned char buffer[8192];
    marvostell::Md5Context context;
    marvostell::Md5Start(context);
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        marvostell::Md5Add(context, buffer, n);
    std::fclose(file);
    uint8_t digest[16];
    marvostell::Md5Finish(context, digest);
    char text[33] = {};
    marvostell::HexEncode(digest, 16, text, 32);
    std::printf("%s  %s\n", text, argv[1]);
    return 0;
}
