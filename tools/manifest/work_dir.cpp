#include "work_dir.h"

#include "platform/win32.h"

#ifdef _WIN32
#include <cstdio>
#else
#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#endif

namespace marvostell::tools {

std::string WorkDir::File(const std::string &name) const { return m_path + kPathSeparator + name; }

#ifdef _WIN32

bool WorkDir::Create(std::string &error) {
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) {
        error = "no temporary directory";
        return false;
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char name[MAX_PATH + 64];
        std::snprintf(name, sizeof name, "%smarvostell-manifest-%lu-%u", temp,
                      static_cast<unsigned long>(GetCurrentProcessId()), attempt);
        if (CreateDirectoryA(name, nullptr)) {
            m_path = name;
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    error = "cannot create a directory in " + std::string(temp);
    return false;
}

WorkDir::~WorkDir() {
    if (m_path.empty()) return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(File("*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA(File(found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(m_path.c_str());
}

#else

bool WorkDir::Create(std::string &error) {
    const char *temp = std::getenv("TMPDIR");
    std::string pattern = std::string(temp && *temp ? temp : "/tmp") + "/marvostell-manifest-XXXXXX";
    if (!mkdtemp(&pattern[0])) {
        error = "cannot create " + pattern + ": " + std::strerror(errno);
        return false;
    }
    m_path = pattern;
    return true;
}

WorkDir::~WorkDir() {
    if (m_path.empty()) return;
    if (DIR *dir = opendir(m_path.c_str())) {
        while (dirent *entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                unlink(File(entry->d_name).c_str());
        }
        closedir(dir);
    }
    rmdir(m_path.c_str());
}

#endif

}  // namespace marvostell::tools
