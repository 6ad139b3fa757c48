#include "interrupt.h"

#include "platform/shared_flag.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <type_traits>
#endif

namespace {

#ifdef _WIN32
// The console runs the handler on a thread of its own; the check's guard
// reads the flag from another.
volatile int32_t g_interrupted = 0;

BOOL WINAPI OnConsoleControl(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
    // FALSE hands a second Ctrl-C to the default handler, which ends the program.
    if (marvostell::LoadSharedFlag(&g_interrupted)) return FALSE;
    marvostell::StoreSharedFlag(&g_interrupted, 1);
    return TRUE;
}
#else
// A signal handler may only store to a volatile sig_atomic_t; the check
// reads it as the int32_t its options name.
static_assert(std::is_same_v<std::sig_atomic_t, int32_t>, "the flag must be both");
volatile std::sig_atomic_t g_interrupted = 0;

extern "C" void OnInterrupt(int) {
    if (marvostell::LoadSharedFlag(&g_interrupted)) {
        std::signal(SIGINT, SIG_DFL);
        std::raise(SIGINT);
        return;
    }
    // Lock-free, so safe in a signal handler.
    marvostell::StoreSharedFlag(&g_interrupted, 1);
}
#endif

}  // namespace

void CatchInterrupt() {
#ifdef _WIN32
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
#else
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    // Restarted calls: the program's own reads and waits go on.
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
#endif
}

volatile int32_t *InterruptFlag() { return &g_interrupted; }

bool Interrupted() { return marvostell::LoadSharedFlag(&g_interrupted) != 0; }
