// Which ports a copy pre-selects, through the real window and the MIDI layer, with simulated
// units on virtual device pairs of the names that each case needs.

#include <gtest/gtest.h>

#include <QComboBox>
#include <memory>

#include "app/tarn_updator_dlg.h"
#include "platform/instance_slot.h"
#include "resources/dialog_templates.h"
#include "sim/virtual_sim_unit.h"
#include "tests/app/window_driver.h"

namespace {

using namespace rxtest;

struct SelectionCase {
    const char* what;
    int instance;
    // Device pairs registered in this order; the MIDI layer numbers repeated names.
    std::vector<std::string> devices;
    // What the lists show, and which item is pre-selected in both.
    std::vector<std::string> shown;
    int selected;
};

class SelectionTest : public AppFixture, public ::testing::WithParamInterface<SelectionCase> {};

QComboBox* List(CDialog& dialog, int id) {
    return qobject_cast<QComboBox*>(Item(dialog, id));
}

std::vector<std::string> Items(QComboBox* list) {
    std::vector<std::string> items;
    for (int i = 0; i < list->count(); ++i) {
        items.push_back(list->itemText(i).toStdString());
    }
    return items;
}

TEST_P(SelectionTest, PreselectsTheLastDeviceThatCarriesACandidateName) {
    const SelectionCase& c = GetParam();
    for (int n = 1; n < c.instance; ++n) {
        Hold(n);
    }
    StartApp();
    ASSERT_EQ(m_app->m_instanceNumber, c.instance);
    std::vector<std::unique_ptr<sim::CVirtualSimUnit>> units;
    for (const auto& name : c.devices) {
        units.push_back(std::make_unique<sim::CVirtualSimUnit>(name));
    }
    CTarnUpdatorDlg dialog(nullptr, QuickTimings());

    RunModal(dialog, [&] {
        for (int id : {rx::IDC_MIDI_IN, rx::IDC_MIDI_OUT}) {
            QComboBox* list = List(dialog, id);
            EXPECT_EQ(Items(list), c.shown) << "list " << id;
            EXPECT_EQ(list->currentIndex(), c.selected) << "list " << id;
        }
    });
}

INSTANTIATE_TEST_SUITE_P(
    Rules, SelectionTest,
    ::testing::Values(
        SelectionCase{"both match, the later wins",
                      1,
                      {"USB Audio Device", "TAVO RX Series"},
                      {"USB Audio Device", "TAVO RX Series"},
                      1},
        SelectionCase{"order of the devices, not of the candidates",
                      1,
                      {"TAVO RX Series", "USB Audio Device", "Launchpad"},
                      {"TAVO RX Series", "USB Audio Device", "Launchpad"},
                      1},
        SelectionCase{"no match", 1, {"Launchpad", "Keystation"}, {"Launchpad", "Keystation"}, -1},
        SelectionCase{"no devices", 1, {}, {}, -1},
        SelectionCase{"letter case",
                      1,
                      {"TAVO RX SERIES", "usb audio device"},
                      {"TAVO RX SERIES", "usb audio device"},
                      -1},
        SelectionCase{
            "prefix", 1, {"TAVO RX", "TAVO RX Series 2"}, {"TAVO RX", "TAVO RX Series 2"}, -1},
        SelectionCase{"plain name in instance 2",
                      2,
                      {"USB Audio Device", "Launchpad"},
                      {"USB Audio Device", "Launchpad"},
                      -1},
        SelectionCase{"numbered name in instance 2",
                      2,
                      {"USB Audio Device", "USB Audio Device (2)", "USB Audio Device (3)"},
                      {"USB Audio Device", "USB Audio Device (2)", "USB Audio Device (3)"},
                      1},
        SelectionCase{"second of two units in instance 2",
                      2,
                      {"TAVO RX Series", "TAVO RX Series"},
                      {"TAVO RX Series", "TAVO RX Series (2)"},
                      1},
        SelectionCase{"third of three units in instance 3",
                      3,
                      {"TAVO RX Series", "TAVO RX Series", "TAVO RX Series"},
                      {"TAVO RX Series", "TAVO RX Series (2)", "TAVO RX Series (3)"},
                      2}),
    [](const auto& info) {
        std::string name;
        for (char ch : std::string(info.param.what)) {
            name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
        }
        return name;
    });

class PortDiscoveryWindowTest : public AppFixture {};

TEST_F(PortDiscoveryWindowTest, RescanShowsNewDevicesAndSelectsAfresh) {
    StartApp();
    auto other = std::make_unique<sim::CVirtualSimUnit>("Launchpad");
    CTarnUpdatorDlg dialog(nullptr, QuickTimings());
    std::unique_ptr<sim::CVirtualSimUnit> unit;

    RunModal(dialog, [&] {
        QComboBox* out = List(dialog, rx::IDC_MIDI_OUT);
        ASSERT_EQ(out->count(), 1);
        EXPECT_EQ(out->currentIndex(), -1);

        unit = std::make_unique<sim::CVirtualSimUnit>();
        EXPECT_EQ(out->count(), 1) << "a device plugged in later shows only after a rescan";

        out->setCurrentIndex(0);
        Click(dialog, rx::IDC_RESCAN);
        ASSERT_EQ(out->count(), 2);
        EXPECT_EQ(out->itemText(0).toStdString(), "Launchpad");
        EXPECT_EQ(out->currentIndex(), 1) << "the user's choice gives way to the pre-selection";
        EXPECT_EQ(List(dialog, rx::IDC_MIDI_IN)->currentIndex(), 1);
    });
}

}  // namespace
