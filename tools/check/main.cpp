// marvostell-check: one update check from a shell, with a progress bar.
//
//   marvostell-check [--version N] [--dir DIR] [--quiet] URL
//
// Exit status: 0 up to date; 1 package downloaded and verified; 2 usage;
// 3 socket layer; 4 bad URL; 5 unusable package entry; 6 digest mismatch;
// 7 authentication required; 8 local file error; 9 Internet error;
// 10 unexpected failure.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "manifest/number.h"
#include "marvostell.h"
#include "result_text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#endif

namespace {

struct Options {
    uint32_t version = 0;
    std::string dir = ".";
    std::string url;
    bool quiet = false;
};

const char kUsage[] =
    "usage: marvostell-check [--version N] [--dir DIR] [--quiet] URL\n"
    "  Fetches the update manifest at URL into DIR (default: the current\n"
    "  directory) and downloads the first package newer than version N\n"
    "  (decimal, 0x hexadecimal or 0 octal; default 0).\n"
    "exit status: 0 up to date, 1 downloaded, 2 usage, 3 sockets, 4 bad URL,\n"
    "  5 package entry, 6 digest mismatch, 7 authentication, 8 local file,\n"
    "  9 Internet error, 10 unexpected\n";

// The module's own number rule, so that the same text means the same version
// on every platform (a 64-bit strtoul reads large values differently).
bool ParseVersion(const char *text, uint32_t &version) {
    const char *stop = nullptr;
    version = marvostell::ParseManifestNumber(text, &stop);
    return stop != text && *stop == '\0';
}

bool ParseOptions(int argc, char **argv, Options &options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--version" || arg == "--dir") && i + 1 < argc) {
            if (arg == "--dir") options.dir = argv[++i];
            else if (!ParseVersion(argv[++i], options.version)) return false;
        } else if (arg == "--quiet") {
            options.quiet = true;
        } else if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (!arg.empty() && arg[0] != '-' && options.url.empty()) {
            options.url = arg;
        } else {
            return false;
        }
    }
    return !options.url.empty();
}

void DrawBar(unsigned percent) {
    const unsigned shown = percent > 100 ? 100 : percent;
    char bar[41];
    for (unsigned i = 0; i < 40; ++i) bar[i] = i < shown * 40 / 100 ? '#' : '.';
    bar[40] = '\0';
    std::fprintf(stderr, "\r[%s] %3u%%", bar, percent);
    std::fflush(stderr);
}

#ifdef _WIN32
// The DLL's export directory carries another module name than its file, so
// hosts load it by file name, as this one does.
typedef int(MARVOSTELL_CALL *CheckNewVersionFn)(void *, uint32_t, uint32_t, const char *,
                                                 const char *, char *);
CheckNewVersionFn g_checkNewVersion = nullptr;

bool LoadModule() {
    HMODULE module = LoadLibraryA("Marvostell.dll");
    if (module)
        g_checkNewVersion = reinterpret_cast<CheckNewVersionFn>(
            reinterpret_cast<void *>(GetProcAddress(module, "CheckNewVersion")));
    if (!g_checkNewVersion)
        std::fprintf(stderr, "cannot load CheckNewVersion from Marvostell.dll (error %lu)\n",
                     GetLastError());
    return g_checkNewVersion != nullptr;
}

const UINT kProgressMessage = WM_APP + 1;
const UINT kDoneMessage = WM_APP + 2;

struct Call {
    Options options;
    HWND window;
    int result;
    char path[MAX_PATH + 1];
};

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kProgressMessage) {
        DrawBar(static_cast<unsigned>(wparam));
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

DWORD WINAPI Worker(LPVOID parameter) {
    Call *call = static_cast<Call *>(parameter);
    call->result = g_checkNewVersion(call->window, kProgressMessage, call->options.version,
                                   call->options.url.c_str(), call->options.dir.c_str(), call->path);
    PostMessageA(call->window, kDoneMessage, 0, 0);
    return 0;
}

int RunCheck(const Options &options, char *path, bool &drew) {
    if (!LoadModule()) std::exit(2);
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "MarvostellCheck";
    RegisterClassA(&windowClass);
    static Call call;
    call.options = options;
    call.window = options.quiet ? nullptr
                                : CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0,
                                                  HWND_MESSAGE, nullptr, windowClass.hInstance,
                                                  nullptr);
    if (!call.window) {
        Worker(&call);
    } else {
        HANDLE thread = CreateThread(nullptr, 0, Worker, &call, 0, nullptr);
        MSG message;
        while (GetMessageA(&message, nullptr, 0, 0) > 0) {
            if (message.message == kDoneMessage) break;
            if (message.message == kProgressMessage) drew = true;
            DispatchMessageA(&message);
        }
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
    std::memcpy(path, call.path, sizeof call.path);
    return call.result;
}
#else
// The library calls post() on the downloading thread; it queues the value and
// returns at once, and the main thread draws.
struct ProgressQueue {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<unsigned> values;
    bool done = false;
};

void Post(void *context, uint32_t, uintptr_t wparam, intptr_t) {
    auto *queue = static_cast<ProgressQueue *>(context);
    {
        std::lock_guard<std::mutex> lock(queue->mutex);
        queue->values.push_back(static_cast<unsigned>(wparam));
    }
    queue->changed.notify_one();
}

int RunCheck(const Options &options, char *path, bool &drew) {
    ProgressQueue queue;
    MarvostellNotifyTarget target{Post, &queue};
    int result = 0;
    std::thread worker([&] {
        result = CheckNewVersion(options.quiet ? nullptr : &target, 0, options.version,
                                 options.url.c_str(), options.dir.c_str(), path);
        std::lock_guard<std::mutex> lock(queue.mutex);
        queue.done = true;
        queue.changed.notify_one();
    });
    std::unique_lock<std::mutex> lock(queue.mutex);
    for (;;) {
        queue.changed.wait(lock, [&] { return queue.done || !queue.values.empty(); });
        while (!queue.values.empty()) {
            const unsigned percent = queue.values.front();
            queue.values.pop_front();
            lock.unlock();
            DrawBar(percent);
            drew = true;
            lock.lock();
        }
        if (queue.done) break;
    }
    lock.unlock();
    worker.join();
    return result;
}
#endif

}  // namespace

int main(int argc, char **argv) {
#ifndef _WIN32
    // As the public header asks of POSIX hosts: under a file-size limit a
    // write past it fails the check (a local-file error) instead of ending
    // the program.
    std::signal(SIGXFSZ, SIG_IGN);
#endif
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    static char path[4096];
    bool drew = false;
    const int result = RunCheck(options, path, drew);
    if (drew) std::fputc('\n', stderr);
    const ResultText described = DescribeResult(result, path);
    std::printf("%s\n", described.text.c_str());
    return described.exitStatus;
}
