// CTarnUpdatorApp: start-up. Takes the lowest free of 20 instance slots and shows the updater
// window for the life of the program; a 21st copy is refused.
#pragma once

#include <string>

#include "platform/qt/win_app.h"

class CTarnUpdatorApp : public CWinApp {
  public:
    static constexpr int kMaxInstances = 20;

    CTarnUpdatorApp();
    ~CTarnUpdatorApp() override;

    // Always false: the program ends when the updater window has closed, or at once when no
    // slot was free.
    BOOL InitInstance() override;

    // The slot search: true when this copy has taken a slot; its number is then the instance
    // number. The slot stays held until the process ends.
    bool TakeInstanceSlot();

    // Handle of the slot tried last; once a slot is taken, the slot this copy holds.
    HANDLE m_hSlotMutex = nullptr;
    // 1 ... 20 once a slot is taken.
    int m_instanceNumber = 0;
};

// "TAVO RX-300 v3.10 Updater" for instance 1, with " (n)" appended for the others: the name
// of the slot and the window's caption.
std::string InstanceTitle(int instanceNumber);

// The instance number of the running application object; 0 before a slot is taken.
int CurrentInstanceNumber();
