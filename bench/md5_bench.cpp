// Prints the MD5 of a file read as the package check reads it: pieces of
// 8192 bytes through one buffer.
#include <cstdio>

#include "package/digest.h"

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
    marvostell::CMd5Hex md5;
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) md5.Add(buffer, n);
    std::fclose(file);
    std::printf("%s  %s\n", md5.Finish().c_str(), argv[1]);
    return 0;
}
