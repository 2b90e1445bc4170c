#include "engine/port_discovery.h"

#include <algorithm>

#include "platform/device_names.h"

namespace rx {

namespace {

constexpr const char* kBaseNames[] = {
    "USB \xE3\x82\xAA\xE3\x83\xBC\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xAA "
    "\xE3\x83\x87\xE3\x83\x90\xE3\x82\xA4\xE3\x82\xB9",
    "USB Audio Device",
    "TAVO RX Series",
};

}  // namespace

std::array<std::string, 3> CandidateNames(int instance) {
    std::array<std::string, 3> names;
    // Cut as the MIDI layer cuts device names to fit: the Japanese name is 32 bytes in UTF-8.
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string suffix = instance == 1 ? "" : " (" + std::to_string(instance) + ")";
        names[i] =
            platform::TruncateUtf8(kBaseNames[i], platform::kDeviceNameBytes - suffix.size()) +
            suffix;
    }
    return names;
}

int PreselectedDevice(const std::vector<std::string>& deviceNames, int instance) {
    const auto candidates = CandidateNames(instance);
    int selected = -1;
    for (std::size_t i = 0; i < deviceNames.size(); ++i) {
        if (std::find(candidates.begin(), candidates.end(), deviceNames[i]) != candidates.end()) {
            selected = static_cast<int>(i);
        }
    }
    return selected;
}

}  // namespace rx
