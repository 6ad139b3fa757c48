// Loads Marvostell.dll with LoadLibrary, calls CheckNewVersion once with a
// message-only window as the progress target and prints what happened:
//   result=<n>
//   path=<text>          or path-untouched when the buffer was not written
//   progress=<p1,p2,...> the wParam of each progress message, in order
//   errormode=<load>,<unload>   the process's error mode after load and unload
// Usage: test_host DLL URL DIR VERSION [--no-window] [--hold FILE]
//   --no-window  pass a null window (no progress messages expected)
//   --hold FILE  keep FILE open without sharing during the call
#include <windows.h>

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

}  // namespace

int main(int argc, char **argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: test_host DLL URL DIR VERSION [--no-window] [--hold FILE]\n");
        return 2;
    }
    bool useWindow = true;
    const char *holdPath = nullptr;
    for (int i = 5; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-window") == 0) useWindow = false;
        else if (std::strcmp(argv[i], "--hold") == 0 && i + 1 < argc) holdPath = argv[++i];
    }

    HWND window = useWindow ? CreateMessageWindow() : nullptr;
    if (useWindow && !window) {
        std::fprintf(stderr, "cannot create the message window: %lu\n", GetLastError());
        return 2;
    }
    HANDLE held = INVALID_HANDLE_VALUE;
    if (holdPath) {
        held = CreateFileA(holdPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (held == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "cannot hold %s: %lu\n", holdPath, GetLastError());
            return 2;
        }
    }

    HMODULE module = LoadLibraryA(argv[1]);
    if (!module) {
        std::fprintf(stderr, "cannot load %s: %lu\n", argv[1], GetLastError());
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
    const DWORD version = std::strtoul(argv[4], nullptr, 0);
    const int result = check(window, kProgressMessage, version, argv[2], argv[3], path);

    // The messages were posted to this thread's queue during the call.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&message);
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
    FreeLibrary(module);
    const UINT modeAfterUnload = CurrentErrorMode();

    std::printf("result=%d\n", result);
    if (path[0] == '#') std::printf("path-untouched\n");
    else std::printf("path=%s\n", path);
    std::printf("progress=");
    for (size_t i = 0; i < g_progress.size(); ++i)
        std::printf("%s%llu", i ? "," : "", g_progress[i]);
    std::printf("\nerrormode=0x%x,0x%x\n", modeAfterLoad, modeAfterUnload);
    return 0;
}
