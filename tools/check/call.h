// One update check through the core's RunUpdateCheck on a worker thread, as a
// host runs it, with the check's events and progress values handed to the
// calling thread in the order they happened.
#pragma once

#include <cstdint>
#include <string>

#include "entry/update_check.h"
#include "framework/check_observer.h"

// Told, on the calling thread, what the check does: its events as the core's
// observer interface gives them, and the progress the module posts.
class CallListener : public marvostell::CCheckObserver {
public:
    virtual void OnProgress(unsigned percent) = 0;
    // Called about ten times a second while the check runs, between the
    // events: where the listener looks at flags that no event brings.
    virtual void OnIdle() {}
};

struct CallArguments {
    uint32_t hostVersion;
    std::string url;
    std::string dir;
    marvostell::CheckOptions options;  // the defaults: CheckNewVersion's rules
};

struct CallResult {
    marvostell::CheckOutcome outcome;  // an exception is an unexpected failure
    int result;                        // what the export returns for it
};

CallResult RunCheck(const CallArguments &arguments, CallListener &listener);
