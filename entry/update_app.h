#pragma once

#include "framework/app.h"

namespace marvostell {

// The module's application object: it lets the framework start and stop the
// module and does nothing else.
class CUpdateApp : public CWinApp {
public:
    CUpdateApp() : CWinApp(nullptr) {}
    ~CUpdateApp() override = default;

    const AFX_MSGMAP *GetMessageMap() const override;
    BOOL InitInstance() override;
    int ExitInstance() override;

private:
    static const AFX_MSGMAP messageMap;
};

}  // namespace marvostell
