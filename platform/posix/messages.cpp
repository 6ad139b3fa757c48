// PostMessageA on POSIX: the window is the host's notify target.
#include "win32_posix.h"

BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (window == nullptr || window->post == nullptr) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    window->post(window->context, static_cast<uint32_t>(message), wparam, lparam);
    return TRUE;
}
