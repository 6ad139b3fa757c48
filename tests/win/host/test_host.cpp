// Loads Marvostell.dll with LoadLibrary, calls CheckNewVersion with a
// message-only window as the progress target, unloads the module and prints
// what happened as one record per round, each line flushed as it is known:
//   record-begin
//   result=<n>
//   path=<text>          or path-untouched when the buffer was not written
//   progress=<p1,p2,...> the wParam of each progress message, in order
//   errormode=<load>,<unload>   the process's error mode after load and unload
//   record-end
// A record without its end marker means the host died during that round.
// Usage: test_host DLL URL DIR VERSION [--no-window] [--hold FILE] [--rounds N]
//   --no-window  pass a null window (no progress messages expected)
//   --hold FILE  keep FILE open without sharing during the call
//   --rounds N   load, check and unload N times in this one process
#include <windows.h>

#include <cstdarg>
#include "marvostell.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

const UINT kProgressMessage = WM_APP + 7;
std::vector<unsigned long long> g_progress;

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == kProgressMessage) {
        g_progress.push_back(static_cast<unsigned long long>(wparam));
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

HWND CreateMessageWindow() {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "MarvostellTestHost";
    RegisterClassA(&windowClass);
    return CreateWindowExA(0, windowClass.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           windowClass.hInstance, nullptr);
}

UINT CurrentErrorMode() {
    const UINT mode = SetErrorMode(0);
    SetErrorMode(mode);
    return mode;
}

// Prints one line of the record and pushes it out at once, so that a crash
// later in the round leaves every line known before it.
void RecordLine(const char *format, ...) {
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stdout, format, arguments);
    va_end(arguments);
    std::fflush(stdout);
}

struct Call {
    const char *dll;
    const char *url;
    const char *dir;
    DWORD version;
    HWND window;
    const char *holdPath;
};

// One round: load, check, drain the progress messages, unload, report.
int RunRound(const Call &call) {
    RecordLine("record-begin\n");
    HANDLE held = INVALID_HANDLE_VALUE;
    if (call.holdPath) {
        held = CreateFileA(call.holdPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (held == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "cannot hold %s: %lu\n", call.holdPath, GetLastError());
            return 2;
        }
    }
    HMODULE module = LoadLibraryA(call.dll);
    if (!module) {
        std::fprintf(stderr, "cannot load %s: %lu\n", call.dll, GetLastError());
        return 2;
    }
    const UINT modeAfterLoad = CurrentErrorMode();
    auto check = reinterpret_cast<MarvostellCheckNewVersionFn>(
        reinterpret_cast<void *>(GetProcAddress(module, "CheckNewVersion")));
    if (!check) {
        std::fprintf(stderr, "no CheckNewVersion export\n");
        return 2;
    }

    char path[MAX_PATH + 1];
    std::memset(path, '#', sizeof path);
    path[MAX_PATH] = '\0';
    g_progress.clear();
    const int result = check(call.window, kProgressMessage, call.version, call.url, call.dir, path);
    RecordLine("result=%d\n", result);
    if (path[0] == '#') RecordLine("path-untouched\n");
    else RecordLine("path=%s\n", path);

    // The messages were posted to this thread's queue during the call.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    std::string progress;
    for (size_t i = 0; i < g_progress.size(); ++i)
        progress += (i ? "," : "") + std::to_string(g_progress[i]);
    RecordLine("progress=%s\n", progress.c_str());

    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    FreeLibrary(module);
    RecordLine("errormode=0x%x,0x%x\n", modeAfterLoad, CurrentErrorMode());
    RecordLine("record-end\n");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    const char usage[] =
        "usage: test_host DLL URL DIR VERSION [--no-window] [--hold FILE] [--rounds N]\n";
    if (argc < 5) {
        std::fputs(usage, stderr);
        return 2;
    }
    Call call{argv[1], argv[2], argv[3], std::strtoul(argv[4], nullptr, 0), nullptr, nullptr};
    bool useWindow = true;
    unsigned long rounds = 1;
    for (int i = 5; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-window") == 0) useWindow = false;
        else if (std::strcmp(argv[i], "--hold") == 0 && i + 1 < argc) call.holdPath = argv[++i];
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::strtoul(argv[++i], nullptr, 10);
        else {
            std::fputs(usage, stderr);
            return 2;
        }
    }
    if (useWindow && !(call.window = CreateMessageWindow())) {
        std::fprintf(stderr, "cannot create the message window: %lu\n", GetLastError());
        return 2;
    }
    for (unsigned long round = 0; round < rounds; ++round)
        if (const int status = RunRound(call)) return status;
    return 0;
}
