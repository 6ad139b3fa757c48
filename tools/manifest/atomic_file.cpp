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
#endif

}  // namespace marvostell::tools
