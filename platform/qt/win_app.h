// The application object: one static CWinApp-derived object per program, whose InitInstance
// AfxWinMain calls once the GUI is up. Returning false from it ends the program.
#pragma once

#include <string>

#include "platform/qt/wnd.h"

class CWinApp {
  public:
    // No name: the title is the executable's file name without its extension.
    explicit CWinApp(const char* appName = nullptr);
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return 1; }

    HICON LoadIcon(UINT id) const;
    const char* AppTitle() const;

    CWnd* m_pMainWnd = nullptr;

  private:
    mutable std::string m_appName;  // filled in on first use when no name was given
};

// The application object constructed last, null when there is none.
CWinApp* AfxGetApp();

// Icon resource `id` (type "ICON", PNG bytes); null when there is no such resource or the GUI
// is not up. Loaded once and kept for the life of the program.
HICON AfxLoadIcon(UINT id);

// Starts the GUI and runs the application object's InitInstance; when that returns true, runs
// the program's message loop until the last window closes. Returns the exit status.
int AfxWinMain(int argc, char** argv);
