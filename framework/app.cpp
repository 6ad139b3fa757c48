#include "framework/app.h"

namespace marvostell {
namespace {
CWinApp *g_moduleApp = nullptr;
}

const AFX_MSGMAP CWinApp::messageMap = {nullptr};

CWinApp::CWinApp(const char *appName) : m_pszAppName(appName) { g_moduleApp = this; }

CWinApp::~CWinApp() {
    if (g_moduleApp == this) g_moduleApp = nullptr;
}

const AFX_MSGMAP *CWinApp::GetMessageMap() const { return &messageMap; }

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

CWinApp *AfxGetApp() { return g_moduleApp; }

BOOL AfxWinInit(HINSTANCE, HINSTANCE, LPSTR, int) {
    const UINT current = SetErrorMode(0);
    SetErrorMode(current | SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    return TRUE;
}

BOOL AfxModuleAttach(HINSTANCE instance) {
    static char emptyCommandLine[] = "";
    if (!AfxWinInit(instance, nullptr, emptyCommandLine, 0)) return FALSE;
    CWinApp *app = AfxGetApp();
    return app ? app->InitInstance() : TRUE;
}

void AfxModuleDetach() {
    if (CWinApp *app = AfxGetApp()) app->ExitInstance();
}

CModuleEntryDriver::CModuleEntryDriver() {
    if (!kLoaderCallsDllMain) AfxModuleAttach(nullptr);
}

CModuleEntryDriver::~CModuleEntryDriver() {
    if (!kLoaderCallsDllMain) AfxModuleDetach();
}

}  // namespace marvostell
