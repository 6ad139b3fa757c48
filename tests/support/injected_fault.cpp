// The stand-ins that count the calls of one kind and fail the chosen one.
#include "injected_fault.h"

#include <cerrno>
#include <mutex>
#include <type_traits>

namespace marvostell::testing {
namespace {

using posix::SystemCall;
using posix::SystemCalls;

#define MARVOSTELL_COUNT_KIND(field, Kind, Result, Parameters, real) +1
constexpr int kCallKinds = 0 MARVOSTELL_SYSTEM_CALLS(MARVOSTELL_COUNT_KIND);
#undef MARVOSTELL_COUNT_KIND

struct Fault {
    unsigned countdown = 0;  // calls left until the failing one; 0: none due
    bool persists = false;   // once due, every later call fails too
    bool due = false;
    int err = 0;
};

std::mutex g_faultMutex;
Fault g_faults[kCallKinds];
SystemCalls g_passOn;  // the entries the stand-ins replaced

// True, with errno set, when this call of that kind is to fail.
bool FailsNow(SystemCall call) {
    std::lock_guard<std::mutex> lock(g_faultMutex);
    Fault &f = g_faults[static_cast<int>(call)];
    if (!f.due) {
        if (f.countdown == 0 || --f.countdown != 0) return false;
        f.due = true;
    } else if (!f.persists) {
        return false;
    }
    errno = f.err;
    return true;
}

template <class Result>
Result Failure(SystemCall call) {
    if constexpr (std::is_same_v<Result, CURLMcode>) return CURLM_INTERNAL_ERROR;
    else if (call == SystemCall::WsaStartup || call == SystemCall::WsaCleanup) return errno;
    else return -1;
}

template <SystemCall Call, auto Field, class Result, class... Args>
Result Failing(Args... args) {
    if (FailsNow(Call)) return Failure<Result>(Call);
    return (g_passOn.*Field)(args...);
}

// Puts the stand-in into table, keeping what it replaces unless that is the
// stand-in itself (a second fault of the same kind).
template <SystemCall Call, auto Field, class Result, class... Args>
void PutStandIn(SystemCalls &table, Result (*SystemCalls::*)(Args...)) {
    Result (*standIn)(Args...) = Failing<Call, Field, Result, Args...>;
    if (table.*Field != standIn) g_passOn.*Field = table.*Field;
    table.*Field = standIn;
}

}  // namespace

void FailSystemCall(SystemCall call, unsigned nth, int err, FaultMode mode) {
    {
        std::lock_guard<std::mutex> lock(g_faultMutex);
        g_faults[static_cast<int>(call)] = Fault{nth, mode == FaultMode::FromThenOn, false, err};
    }
    SystemCalls table = posix::Sys();
    switch (call) {
#define MARVOSTELL_PUT_STAND_IN(field, Kind, Result, Parameters, real)                              \
    case SystemCall::Kind:                                                                        \
        PutStandIn<SystemCall::Kind, &SystemCalls::field>(table, &SystemCalls::field);             \
        break;
        MARVOSTELL_SYSTEM_CALLS(MARVOSTELL_PUT_STAND_IN)
#undef MARVOSTELL_PUT_STAND_IN
    }
    posix::ReplaceSystemCalls(table);
}

}  // namespace marvostell::testing
