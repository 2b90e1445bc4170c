// Which MIDI devices belong to this copy's unit: three candidate names formed for the instance
// number, compared byte for byte with the device names.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace rx {

// "USB オーディオ デバイス" (in UTF-8, the encoding our MIDI layer reports names in), "USB Audio
// Device" and "TAVO RX Series"; from instance 2 on each followed by " (N)". Each is cut as the
// MIDI layer cuts a device name of that length.
std::array<std::string, 3> CandidateNames(int instance);

// The position of the device to pre-select: the highest whose name equals a candidate, -1 when
// none does.
int PreselectedDevice(const std::vector<std::string>& deviceNames, int instance);

}  // namespace rx
