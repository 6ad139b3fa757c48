// Internal to platform/posix: errno values translated to Win32 error codes.
#pragma once

#include "win32_posix.h"

namespace marvostell::posix {

// The Win32 code for errno value err. path, when given, is the name the failed
// call worked on: for ENOENT it decides between ERROR_PATH_NOT_FOUND (a
// directory of the path is missing) and ERROR_FILE_NOT_FOUND.
DWORD ErrorFromErrno(int err, const char *path = nullptr);

// SetLastError(ErrorFromErrno(...)).
void SetLastErrorFromErrno(int err, const char *path = nullptr);

}  // namespace marvostell::posix
