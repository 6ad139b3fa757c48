// Makes the nth call of one kind of system call in the POSIX layer fail with
// a chosen errno (and, in FaultMode::FromThenOn, every call after it) for as
// long as the object lives.
#pragma once

#include "platform/posix/system_calls.h"

namespace marvostell::testing {

struct InjectedFault {
    InjectedFault(posix::SystemCall call, unsigned nth, int err,
                  posix::FaultMode mode = posix::FaultMode::Once) {
        posix::FailSystemCall(call, nth, err, mode);
    }
    ~InjectedFault() { posix::RestoreSystemCalls(); }
    InjectedFault(const InjectedFault &) = delete;
    InjectedFault &operator=(const InjectedFault &) = delete;
};

}  // namespace marvostell::testing
