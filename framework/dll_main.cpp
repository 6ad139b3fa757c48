// The DLL's loader hook, built into the Windows DLL only: runs the module
// entry routine at load and unload.
#include "framework/app.h"
#include "marvostell.h"

static_assert(MARVOSTELL_PATH_BUFFER_SIZE == MAX_PATH, "path buffer size is not MAX_PATH");

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return marvostell::AfxModuleAttach(instance);
    case DLL_PROCESS_DETACH:
        marvostell::AfxModuleDetach();
        break;
    default:
        break;
    }
    return TRUE;
}
