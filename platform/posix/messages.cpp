// PostMessageA on POSIX: the window is the host's notify target.
#include <climits>

#include "marvostell.h"
#include "win32_posix.h"

// The header states the path limit as a literal for strict C; keep it true.
static_assert(MARVOSTELL_PATH_BUFFER_SIZE == PATH_MAX, "path buffer size is not PATH_MAX");

BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (window == nullptr || window->post == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    window->post(window->context, static_cast<uint32_t>(message), wparam, lparam);
    return TRUE;
}
