// Test seam of the POSIX WSAStartup/WSACleanup: call counts and scripted
// answers. Compiled into the library but not exported from it; tests reach it
// through the static core.
#pragma once

#include "win32_posix.h"

namespace marvostell::posix_testing {

// Calls made since the last reset, successful or not.
int WsaStartupCalls();
int WsaCleanupCalls();
// Starts in force: successful WSAStartup calls not yet matched by a cleanup.
int WsaActiveStarts();

// The next `count` WSAStartup calls fail with `error` (e.g. 10091,
// WSASYSNOTREADY) and count no start; count < 0 means every call until reset.
void FailWsaStartup(int error, int count = 1);
// Successful starts report `version` as wVersion instead of the negotiated
// one (e.g. 0x0202); 0 restores the normal answer.
void ReportWsaVersion(WORD version);

// Clears the counts, the active starts and the scripted answers.
void ResetWsa();

}  // namespace marvostell::posix_testing
