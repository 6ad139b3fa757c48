// The application-object frame: one CWinApp-derived object per module, started
// when the module is loaded and stopped when it is unloaded.
#pragma once

#include "platform/win32.h"

namespace marvostell {

struct AFX_MSGMAP {
    const AFX_MSGMAP *baseMap;
};

class CWinApp {
public:
    // Registers the object as the module's application.
    explicit CWinApp(const char *appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp &) = delete;
    CWinApp &operator=(const CWinApp &) = delete;

    virtual const AFX_MSGMAP *GetMessageMap() const;
    virtual BOOL InitInstance();
    virtual int ExitInstance();

    const char *m_pszAppName;

protected:
    static const AFX_MSGMAP messageMap;
};

CWinApp *AfxGetApp();

// Initialises the framework for the module: adds "no critical-error box" and
// "no open-file error box" to the process's error mode.
BOOL AfxWinInit(HINSTANCE instance, HINSTANCE previous, LPSTR commandLine, int show);

// The module entry routine: at load AfxWinInit, then InitInstance; at unload
// ExitInstance. The platform's loader hook calls these once each.
BOOL AfxModuleAttach(HINSTANCE instance);
void AfxModuleDetach();

// Drives the entry routine from static construction where the loader has no
// DllMain; where it has one, DllMain does and this object does nothing.
class CModuleEntryDriver {
public:
    CModuleEntryDriver();
    ~CModuleEntryDriver();
    CModuleEntryDriver(const CModuleEntryDriver &) = delete;
    CModuleEntryDriver &operator=(const CModuleEntryDriver &) = delete;
};

}  // namespace marvostell
