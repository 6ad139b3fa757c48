#include "atomic_file.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>

#include <fstream>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace marvostell::tools {

#ifdef _WIN32
bool WriteReplacing(const std::string &path, const std::string &text, std::string &error) {
    const std::string temp = path + ".writing-" + std::to_string(GetCurrentProcessId());
    bool ok;
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
        ok = static_cast<bool>(out.flush());
    }
    ok = ok && MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        error = "cannot write " + path + " (error " + std::to_string(GetLastError()) + ")";
        DeleteFileA(temp.c_str());
    }
    return ok;
}

bool SameFile(const std::string &a, const std::string &b) {
    BY_HANDLE_FILE_INFORMATION info[2];
    const std::string *names[2] = {&a, &b};
    for (int i = 0; i < 2; ++i) {
        const HANDLE file = CreateFileA(names[i]->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        const BOOL got = GetFileInformationByHandle(file, &info[i]);
        CloseHandle(file);
        if (!got) return false;
    }
    return info[0].dwVolumeSerialNumber == info[1].dwVolumeSerialNumber &&
           info[0].nFileIndexHigh == info[1].nFileIndexHigh && info[0].nFileIndexLow == info[1].nFileIndexLow;
}
#else
bool WriteReplacing(const std::string &path, const std::string &text, std::string &error) {
    struct stat old;
    const mode_t mode = stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0666;
    const std::string temp = path + ".writing-" + std::to_string(getpid());
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    if (fd < 0) {
        error = "cannot create " + temp + ": " + std::strerror(errno);
        return false;
    }
    bool ok = true;
    for (size_t at = 0; ok && at < text.size();) {
        const ssize_t written = write(fd, text.data() + at, text.size() - at);
        ok = written > 0 || (written < 0 && errno == EINTR);
        if (written > 0) at += static_cast<size_t>(written);
    }
    ok = ok && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    ok = ok && rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        unlink(temp.c_str());
    }
    return ok;
}

bool SameFile(const std::string &a, const std::string &b) {
    struct stat x, y;
    return stat(a.c_str(), &x) == 0 && stat(b.c_str(), &y) == 0 && x.st_dev == y.st_dev && x.st_ino == y.st_ino;
}
#endif

}  // namespace marvostell::tools
