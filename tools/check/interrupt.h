// Ctrl-C during a check: the first one sets the flag that the check watches
// (its cancel flag), a second one ends the program at once.
#pragma once

#include <cstdint>

// Installs the handler: SIGINT on POSIX, the console control handler on Windows.
void CatchInterrupt();

// The flag the handler sets, for the check's cancel option.
volatile int32_t *InterruptFlag();

bool Interrupted();
