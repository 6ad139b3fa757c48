// Loads Marvostell.dll with LoadLibrary, calls CheckNewVersion with a
// message-only window as the progress target, unloads the module and prints
// what happened as one record per round, each line flushed as it is known:
//   record-begin
//   result=<n>
//   path=<text>          or path-untouched when the buffer was not written
//   progress=<p1,p2,...> the wParam of each progress message, in order
//   offer=<version> <packageSize> <section>  or offer=none   (--ex only)
//   offer-more=flags=<f> display=<text> notes=<text>  or offer-more=   (--ex only)
//   offer-download=<n>   its downloadSize, -1 for an older structure (--ex only)
//   guard=intact|written  whether bytes past the path buffer or the offer
//                        changed (--ex only)
//   elapsed=<ms>         the call's own duration (--ex only)
//   errormode=<load>,<unload>   the process's error mode after load and unload
//   record-end
// A record without its end marker means the host died during that round.
// Usage: test_host DLL URL DIR VERSION [--no-window] [--hold FILE] [--rounds N]
//                  [--ex] [--flags N] [--deadline S] [--stall S]
//                  [--cancel-after MS] [--user-agent-hex HEX] [--path-size N]
//                  [--trusted-keys KEYS] [--trust-ca FILE] [--offer-size N]
//   --no-window  pass a null window (no progress messages expected)
//   --hold FILE  keep FILE open without sharing during the call
//   --rounds N   load, check and unload N times in this one process
//   --ex         call CheckNewVersionEx (the options below imply it), with
//                a full-size MarvostellOptions and MarvostellOffer
//   --flags N, --deadline S, --stall S   the options' fields of those names
//   --cancel-after MS  a cancel flag that a second thread sets MS ms into the
//                call (0: set before it)
//   --user-agent-hex HEX  the userAgent, its bytes in hexadecimal
//   --trusted-keys KEYS   the trustedKeys, as given
//   --path-size N  nPackagePathSize (default MAX_PATH + 1)
//   --trust-ca FILE  add the CA certificate in FILE (PEM) to the machine's
//                trusted roots first, for a TLS test server (the test
//                prefix's store; Windows would ask before adding one)
//   --offer-size N  the offer's size, 268 (the first header's) to the whole
#include <windows.h>
#include <wincrypt.h>

#include <cstdarg>
#include "marvostell.h"
#include "offer_area.h"

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
    const char *dll = nullptr;
    const char *url = nullptr;
    const char *dir = nullptr;
    DWORD version = 0;
    HWND window = nullptr;
    const char *holdPath = nullptr;
    bool ex = false;
    MarvostellOptions options{sizeof(MarvostellOptions), 0, nullptr, nullptr, 0, 0, nullptr};
    std::string userAgent;
    long cancelAfterMs = -1;
    DWORD pathSize = MAX_PATH + 1;
    DWORD offerSize = sizeof(MarvostellOffer);
};

const DWORD kPathGuardBytes = 64;

// Sets the cancel flag after a delay unless the call ends first.
struct Canceller {
    volatile int32_t flag = 0;
    DWORD afterMs = 0;
    HANDLE ended = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = nullptr;

    static DWORD WINAPI Run(void *self) {
        Canceller &c = *static_cast<Canceller *>(self);
        if (WaitForSingleObject(c.ended, c.afterMs) == WAIT_TIMEOUT) c.flag = 1;
        return 0;
    }
    explicit Canceller(long after) {
        if (after == 0) flag = 1;
        afterMs = static_cast<DWORD>(after);
        if (after > 0) thread = CreateThread(nullptr, 0, Run, this, 0, nullptr);
    }
    ~Canceller() {
        SetEvent(ended);
        if (thread) WaitForSingleObject(thread, INFINITE), CloseHandle(thread);
        CloseHandle(ended);
    }
};

// CheckNewVersionEx with the call's options; prints the ex-only lines.
int CallEx(HMODULE module, const Call &call, char *path) {
    auto checkEx = reinterpret_cast<MarvostellCheckNewVersionExFn>(
        reinterpret_cast<void *>(GetProcAddress(module, "CheckNewVersionEx")));
    if (!checkEx) {
        std::fprintf(stderr, "no CheckNewVersionEx export\n");
        std::exit(2);
    }
    Canceller cancel(call.cancelAfterMs);
    MarvostellOptions options = call.options;
    if (call.cancelAfterMs >= 0) options.cancel = &cancel.flag;
    marvostell::testing::OfferArea offer(call.offerSize);
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    const int result = checkEx(call.window, kProgressMessage, call.version, call.url, call.dir, path,
                               call.pathSize, &options, offer.get());
    QueryPerformanceCounter(&end);
    RecordLine("offer=%s\n", offer.Text().c_str());
    RecordLine("offer-more=%s\n", offer.More().c_str());
    RecordLine("offer-download=%ld\n", offer.Download());
    bool intact = !offer.Overrun();
    for (DWORD i = 0; i < kPathGuardBytes; ++i) intact = intact && path[call.pathSize + i] == '#';
    RecordLine("guard=%s\n", intact ? "intact" : "written");
    RecordLine("elapsed=%lld\n", (end.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart);
    return result;
}

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

    std::vector<char> buffer(call.pathSize + kPathGuardBytes, '#');
    char *path = buffer.data();
    if (!call.ex) path[MAX_PATH] = '\0';
    g_progress.clear();
    const int result = call.ex ? CallEx(module, call, path)
                               : check(call.window, kProgressMessage, call.version, call.url,
                                       call.dir, path);
    RecordLine("result=%d\n", result);
    if (path[0] == '#') RecordLine("path-untouched\n");
    else RecordLine("path=%.*s\n", static_cast<int>(strnlen(path, call.pathSize)), path);

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

// The bytes a string of hexadecimal digits stands for.
std::string FromHex(const char *hex) {
    std::string bytes;
    for (size_t i = 0; hex[i] && hex[i + 1]; i += 2) {
        const char pair[3] = {hex[i], hex[i + 1], '\0'};
        bytes += static_cast<char>(std::strtoul(pair, nullptr, 16));
    }
    return bytes;
}

// Adds the PEM certificate in `file` to the local machine's Root store.
bool TrustCertificate(const char *file) {
    std::string pem;
    if (FILE *in = std::fopen(file, "rb")) {
        char chunk[4096];
        for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, in)) > 0;) pem.append(chunk, n);
        std::fclose(in);
    }
    DWORD size = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr,
                                             &size, nullptr, nullptr))
        return false;
    std::vector<BYTE> der(size);
    HCERTSTORE root = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0,
                                    CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    const bool added =
        root && CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, der.data(), &size,
                                     nullptr, nullptr) &&
        CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), size,
                                         CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    if (root) CertCloseStore(root, 0);
    return added;
}

// The options of CheckNewVersionEx at argv[*i]; false when argv[*i] is none.
bool ExOption(int argc, char **argv, int *i, Call &call) {
    const char *name = argv[*i];
    if (std::strcmp(name, "--ex") == 0) return call.ex = true;
    if (*i + 1 >= argc) return false;
    const char *value = argv[*i + 1];
    const unsigned long number = std::strtoul(value, nullptr, 0);
    if (std::strcmp(name, "--flags") == 0) call.options.flags = number;
    else if (std::strcmp(name, "--deadline") == 0) call.options.deadlineSeconds = number;
    else if (std::strcmp(name, "--stall") == 0) call.options.stallSeconds = number;
    else if (std::strcmp(name, "--cancel-after") == 0) call.cancelAfterMs = static_cast<long>(number);
    else if (std::strcmp(name, "--path-size") == 0) call.pathSize = number;
    else if (std::strcmp(name, "--offer-size") == 0) call.offerSize = number;
    else if (std::strcmp(name, "--user-agent-hex") == 0) call.userAgent = FromHex(value);
    else if (std::strcmp(name, "--trusted-keys") == 0) call.options.trustedKeys = value;
    else return false;
    if (std::strcmp(name, "--user-agent-hex") == 0) call.options.userAgent = call.userAgent.c_str();
    ++*i;
    return call.ex = true;
}

int main(int argc, char **argv) {
    const char usage[] =
        "usage: test_host DLL URL DIR VERSION [--no-window] [--hold FILE] [--rounds N]\n"
        "       [--ex] [--flags N] [--deadline S] [--stall S] [--cancel-after MS]\n"
        "       [--user-agent-hex HEX] [--path-size N] [--trusted-keys KEYS] [--trust-ca FILE]\n"
        "       [--offer-size N]\n";
    if (argc < 5) {
        std::fputs(usage, stderr);
        return 2;
    }
    Call call;
    call.dll = argv[1];
    call.url = argv[2];
    call.dir = argv[3];
    call.version = std::strtoul(argv[4], nullptr, 0);
    bool useWindow = true;
    unsigned long rounds = 1;
    for (int i = 5; i < argc; ++i) {
        if (std::strcmp(argv[i], "--no-window") == 0) useWindow = false;
        else if (std::strcmp(argv[i], "--hold") == 0 && i + 1 < argc) call.holdPath = argv[++i];
        else if (std::strcmp(argv[i], "--rounds") == 0 && i + 1 < argc)
            rounds = std::strtoul(argv[++i], nullptr, 10);
        else if (std::strcmp(argv[i], "--trust-ca") == 0 && i + 1 < argc) {
            if (!TrustCertificate(argv[++i])) {
                std::fprintf(stderr, "cannot trust %s: %lu\n", argv[i], GetLastError());
                return 2;
            }
        } else if (!ExOption(argc, argv, &i, call)) {
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
