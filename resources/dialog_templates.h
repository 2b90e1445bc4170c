// Dialog templates 103 (the updater window) and 100 (the About box), and their control ids.
#pragma once

#include "platform/qt/dialog_template.h"

namespace rx {

constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_TARNUPDATOR_DIALOG = 103;
constexpr int IDR_MAINFRAME = 128;

constexpr int IDC_MIDI_IN = 1000;
constexpr int IDC_MIDI_OUT = 1001;
constexpr int IDC_PROGRESS = 1002;
constexpr int IDC_STATUS = 1003;
constexpr int IDC_RESCAN = 1004;
constexpr int IDC_PICTURE = 1005;
constexpr int IDC_STEP = 1006;

// The About box's product text shares its id with the updater window's status line.
constexpr int IDC_PRODUCT = 1003;

const DialogTemplate& UpdaterDialogTemplate();
const DialogTemplate& AboutDialogTemplate();

}  // namespace rx
