#include "entry/update_app.h"

namespace marvostell {

// Empty; chains to CWinApp's.
const AFX_MSGMAP CUpdateApp::messageMap = {&CWinApp::messageMap};

const AFX_MSGMAP *CUpdateApp::GetMessageMap() const { return &messageMap; }

BOOL CUpdateApp::InitInstance() { return TRUE; }

int CUpdateApp::ExitInstance() { return CWinApp::ExitInstance(); }

namespace {
// Defined in this order so that the driver starts the module after the
// application object exists and stops it before the object goes away.
CUpdateApp theApp;
CModuleEntryDriver theEntryDriver;
}  // namespace

}  // namespace marvostell
