#pragma once

namespace marvostell {

// Starts Windows Sockets 1.1 once per process. Nonzero when the socket layer
// is usable. A start that reports another version is undone with WSACleanup;
// a successful start is never undone.
int AfxSocketInit();

}  // namespace marvostell
