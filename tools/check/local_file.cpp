#include "local_file.h"

#include <fstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

// From the directory entry, without opening the file: a check under way
// holds it open without sharing.
bool LocalFileSize(const std::string &path, uint64_t &size) {
#ifdef _WIN32
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
#else
    struct stat status;
    if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return false;
    size = static_cast<uint64_t>(status.st_size);
#endif
    return true;
}

bool ReadLocalFile(const std::string &path, std::string &bytes, uint64_t limit) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    bytes.clear();
    char buffer[8192];
    while (bytes.size() < limit && file) {
        const uint64_t want = limit - bytes.size();
        file.read(buffer, static_cast<std::streamsize>(want < sizeof buffer ? want : sizeof buffer));
        bytes.append(buffer, static_cast<size_t>(file.gcount()));
    }
    return true;
}

bool DirectoryIsWritable(const std::string &dir) {
    const std::string where = dir.empty() ? "." : dir;
#ifdef _WIN32
    // Access checks on directories say little on Windows; try a file.
    char name[MAX_PATH];
    if (!GetTempFileNameA(where.c_str(), "mvc", 0, name)) return false;
    DeleteFileA(name);
    return true;
#else
    return access(where.c_str(), W_OK | X_OK) == 0;
#endif
}
