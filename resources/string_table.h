// The program's string table: every text the window and the update show to the user.
#pragma once

#include "platform/mmsystem.h"

namespace rx {

enum StringId : UINT {
    IDS_ABOUTBOX = 101,
    IDS_TIMEOUT_IDENTITY = 102,
    IDS_TIMEOUT_WRITE = 103,
    IDS_TIMEOUT_ERASE = 104,
    IDS_ILLEGAL_DEVICE = 105,
    IDS_USE_UPDATE_MODE = 106,
    IDS_TRANSFER_ERROR = 107,
    IDS_UPDATE_COMPLETED = 108,
    IDS_IN_PROGRESS = 109,
    IDS_CANT_OPEN_MIDI_IN = 110,
    IDS_ERROR_CAPTION = 111,
    IDS_CANT_OPEN_MIDI_OUT = 113,
    IDS_ERASING = 114,
    IDS_DATA_TRANSMIT = 115,
};

// The text of string `id`; empty for an id the table does not hold.
const char* LoadStringText(UINT id);

}  // namespace rx
