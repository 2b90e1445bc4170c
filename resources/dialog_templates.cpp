#include "resources/dialog_templates.h"

namespace rx {

namespace {

constexpr unsigned kPortList = kDropDownList | kTabStop;
constexpr unsigned kReadOnlyText = kReadOnly | kNoBorder | kTabStop;

constexpr DialogControl kUpdaterControls[] = {
    {IDOK, ControlKind::kPushButton, "Execute", {119, 138, 50, 16}, kDefaultButton | kTabStop},
    {IDCANCEL, ControlKind::kPushButton, "Exit", {182, 138, 50, 16}, kTabStop},
    {IDC_STATIC, ControlKind::kStaticText, "MIDI IN", {7, 7, 225, 8}, 0},
    {IDC_STATIC, ControlKind::kStaticText, "MIDI OUT", {7, 37, 225, 8}, 0},
    {IDC_MIDI_IN, ControlKind::kComboBox, "", {7, 15, 225, 115}, kPortList},
    {IDC_MIDI_OUT, ControlKind::kComboBox, "", {7, 45, 225, 115}, kPortList},
    {IDC_PROGRESS, ControlKind::kProgressBar, "", {7, 107, 225, 14}, 0},
    {IDC_STATUS, ControlKind::kEdit, "", {12, 91, 220, 12}, kReadOnlyText},
    {IDC_RESCAN, ControlKind::kPushButton, "Rescan Device", {145, 65, 87, 16}, kTabStop},
    {IDC_PICTURE, ControlKind::kStaticPicture, "", {7, 134, 20, 20}, 0},
    {IDC_STEP, ControlKind::kEdit, "", {12, 78, 29, 12}, kReadOnlyText},
};

constexpr DialogControl kAboutControls[] = {
    {IDC_STATIC, ControlKind::kStaticIcon, "", {11, 17, 20, 20}, 0, IDR_MAINFRAME},
    {IDC_STATIC,
     ControlKind::kStaticText,
     "Firmware update over MIDI System Exclusive.",
     {40, 45, 188, 8},
     0},
    {IDOK, ControlKind::kPushButton, "OK", {178, 7, 50, 16}, kDefaultButton | kTabStop},
    {IDC_PRODUCT, ControlKind::kEdit, "", {39, 19, 134, 14}, kReadOnly | kNoBorder | kTabStop},
};

// The window's caption is set by its initialisation, so the template leaves it empty.
constexpr DialogTemplate kUpdater{IDD_TARNUPDATOR_DIALOG, 239, 161, "", 9, kUpdaterControls};
constexpr DialogTemplate kAbout{IDD_ABOUTBOX, 235, 60, "About RX-910 Updater", 9, kAboutControls};

}  // namespace

const DialogTemplate& UpdaterDialogTemplate() {
    return kUpdater;
}
const DialogTemplate& AboutDialogTemplate() {
    return kAbout;
}

}  // namespace rx
