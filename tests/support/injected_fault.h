// Faults injected into the POSIX layer's table of system calls: the nth call
// of one kind fails with a chosen errno, through a stand-in that passes the
// other calls on to the entry it replaced (the real call, or a test's own).
#pragma once

#include "platform/posix/system_calls.h"

namespace marvostell::testing {

enum class FaultMode {
    Once,       // the calls after the failing one go through again
    FromThenOn  // and every later call fails too, as a disk that stays full
};

// From now on, the nth call (1 for the next) of that kind fails with err; the
// calls before it go through, those after it as the mode says. The call fails
// as the real one does (see system_calls.h). posix::RestoreSystemCalls ends it.
void FailSystemCall(posix::SystemCall call, unsigned nth, int err, FaultMode mode = FaultMode::Once);

// FailSystemCall for as long as the object lives.
struct InjectedFault {
    InjectedFault(posix::SystemCall call, unsigned nth, int err, FaultMode mode = FaultMode::Once) {
        FailSystemCall(call, nth, err, mode);
    }
    ~InjectedFault() { posix::RestoreSystemCalls(); }
    InjectedFault(const InjectedFault &) = delete;
    InjectedFault &operator=(const InjectedFault &) = delete;
};

}  // namespace marvostell::testing
