#include "work_dir.h"

#include <algorithm>
#include <mutex>
#include <vector>

#include "platform/win32.h"

#ifdef _WIN32
#include <cstdio>
#else
#include <dirent.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>
#endif

namespace marvostell::tools {
namespace {

// The directories that exist now. Never destroyed: an interrupt may come
// while statics are being torn down.
std::mutex &Lock() {
    static std::mutex *lock = new std::mutex;
    return *lock;
}
std::vector<std::string> &Live() {
    static auto *live = new std::vector<std::string>;
    return *live;
}

std::string FileIn(const std::string &dir, const std::string &name) { return dir + kPathSeparator + name; }

#ifdef _WIN32

bool RemoveTree(const std::string &path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(FileIn(path, "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA(FileIn(path, found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryA(path.c_str()) != FALSE;
}

#else

bool RemoveTree(const std::string &path) {
    if (DIR *dir = opendir(path.c_str())) {
        while (dirent *entry = readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                unlink(FileIn(path, entry->d_name).c_str());
        }
        closedir(dir);
    }
    return rmdir(path.c_str()) == 0 || errno == ENOENT;
}

#endif

// Removes every live directory and ends the process; the lock stays held so
// that no other thread registers or removes one meanwhile.
[[noreturn]] void RemoveAllAndExit(int status) {
    Lock().lock();
    for (const std::string &path : Live()) {
        // A file the tool was creating meanwhile makes the directory not empty.
        for (int attempt = 0; attempt < 5 && !RemoveTree(path); ++attempt) {}
    }
#ifdef _WIN32
    ExitProcess(static_cast<UINT>(status));
#else
    _exit(status);
#endif
}

#ifdef _WIN32

BOOL WINAPI OnConsoleEvent(DWORD event) {
    RemoveAllAndExit(128 + (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT ? 2 : 15));
}

void WatchInterrupts() {
    static std::once_flag once;
    std::call_once(once, [] { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); });
}

#else

// The signals go to one thread of their own, which may call anything; every
// thread started later inherits the blocked mask.
void WatchInterrupts() {
    static std::once_flag once;
    std::call_once(once, [] {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
        std::thread([set] {
            int signal = 0;
            while (sigwait(&set, &signal) != 0) {}
            RemoveAllAndExit(128 + signal);
        }).detach();
    });
}

#endif

}  // namespace

std::string WorkDir::File(const std::string &name) const { return FileIn(m_path, name); }

WorkDir::~WorkDir() {
    if (m_path.empty()) return;
    std::lock_guard<std::mutex> lock(Lock());
    RemoveTree(m_path);
    std::vector<std::string> &live = Live();
    live.erase(std::remove(live.begin(), live.end(), m_path), live.end());
}

#ifdef _WIN32

bool WorkDir::Create(std::string &error) {
    WatchInterrupts();
    char temp[MAX_PATH];
    const DWORD length = GetTempPathA(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) {
        error = "no temporary directory";
        return false;
    }
    std::lock_guard<std::mutex> lock(Lock());
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        char name[MAX_PATH + 64];
        std::snprintf(name, sizeof name, "%smarvostell-manifest-%lu-%u", temp,
                      static_cast<unsigned long>(GetCurrentProcessId()), attempt);
        if (CreateDirectoryA(name, nullptr)) {
            m_path = name;
            Live().push_back(m_path);
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) break;
    }
    error = "cannot create a directory in " + std::string(temp);
    return false;
}

#else

bool WorkDir::Create(std::string &error) {
    WatchInterrupts();
    const char *temp = std::getenv("TMPDIR");
    std::string pattern = std::string(temp && *temp ? temp : "/tmp") + "/marvostell-manifest-XXXXXX";
    std::lock_guard<std::mutex> lock(Lock());
    if (!mkdtemp(&pattern[0])) {
        error = "cannot create " + pattern + ": " + std::strerror(errno);
        return false;
    }
    m_path = pattern;
    Live().push_back(m_path);
    return true;
}

#endif

}  // namespace marvostell::tools
