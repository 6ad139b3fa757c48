// The one scratch directory of a fuzz process, and whole-file writes into it:
// the profile reader and the selection read their manifest from a file.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <fcntl.h>
#include <unistd.h>

namespace marvostell::fuzzing {

// A directory of this process's own, made on first use and removed at exit
// (libFuzzer ends with exit()). The name is never destroyed, so the exit
// handler can still read it.
inline const std::string &ScratchDir() {
    static const std::string *dir = [] {
        char pattern[] = "/tmp/marvostell-fuzz-XXXXXX";
        if (!mkdtemp(pattern)) std::abort();
        std::atexit([] {
            std::remove((*dir + "/update.ini").c_str());
            rmdir(dir->c_str());
        });
        return new std::string(pattern);
    }();
    return *dir;
}

// Replaces the file's content with size bytes of data.
inline void WriteWhole(const std::string &path, const uint8_t *data, size_t size) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) std::abort();
    for (size_t done = 0; done < size;) {
        const ssize_t n = write(fd, data + done, size - done);
        if (n <= 0) std::abort();
        done += static_cast<size_t>(n);
    }
    close(fd);
}

}  // namespace marvostell::fuzzing
