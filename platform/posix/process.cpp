// The process's own identity, as the core asks Windows for it.
#include <unistd.h>

#include "win32_posix.h"

DWORD GetCurrentProcessId() { return static_cast<DWORD>(getpid()); }
