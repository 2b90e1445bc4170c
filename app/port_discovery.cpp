// ScanPorts: both port lists in device-number order, the unit's ports pre-selected by name.
#include "engine/port_discovery.h"

#include <string>
#include <vector>

#include "app/tarn_updator_app.h"
#include "app/tarn_updator_dlg.h"

namespace {

// The items' texts as the list holds them, so that the pre-selection compares what it shows.
void Preselect(CComboBox& list) {
    std::vector<std::string> items;
    for (int i = 0; i < list.GetCount(); ++i) {
        items.push_back(list.GetLBText(i));
    }
    const int selected = rx::PreselectedDevice(items, CurrentInstanceNumber());
    if (selected >= 0) {
        list.SetCurSel(selected);
    }
}

}  // namespace

void CTarnUpdatorDlg::ScanPorts() {
    char name[256];
    m_midiOutList.ResetContent();
    for (int i = 0; i < m_engine.OutPort().GetDeviceCount(); ++i) {
        m_engine.OutPort().GetDeviceName(i, name);
        m_midiOutList.AddString(name);
    }
    m_midiInList.ResetContent();
    for (int i = 0; i < m_engine.InPort().GetDeviceCount(); ++i) {
        m_engine.InPort().GetDeviceName(i, name);
        m_midiInList.AddString(name);
    }
    Preselect(m_midiOutList);
    Preselect(m_midiInList);
}
