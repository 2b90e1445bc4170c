#include "engine/port_discovery.h"

#include <gtest/gtest.h>

#include "platform/device_names.h"

namespace {

struct SelectionCase {
    std::vector<std::string> devices;
    int instance;
    int selected;
};

TEST(PortDiscovery, PreselectsTheHighestDeviceWithACandidateName) {
    const SelectionCase cases[] = {
        {{"USB Audio Device", "TAVO RX Series"}, 1, 1},
        {{"TAVO RX Series", "Midi Through"}, 1, 0},
        {{"USB Audio Device", "USB Audio Device (2)"}, 2, 1},
        {{"USB Audio Device", "Other"}, 2, -1},
        {{"usb audio device", "TAVO RX Series "}, 1, -1},  // case and trailing blank matter
        {{"TAVO RX Series (2)"}, 1, -1},
        {{"USB Audio Device (3)", "TAVO RX Series (3)", "Y"}, 3, 1},
        {{}, 1, -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rx::PreselectedDevice(c.devices, c.instance), c.selected)
            << "instance " << c.instance << ", first device "
            << (c.devices.empty() ? "" : c.devices[0]);
    }
}

// The Japanese name does not fit a device name whole; the unit is still found under what the
// MIDI layer makes of it, for every instance.
TEST(PortDiscovery, JapaneseNameMatchesAsTheMidiLayerCutsIt) {
    const std::string japanese =
        "USB \xE3\x82\xAA\xE3\x83\xBC\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xAA "
        "\xE3\x83\x87\xE3\x83\x90\xE3\x82\xA4\xE3\x82\xB9";
    const auto devices = platform::NumberDuplicateNames({"Other", japanese, japanese, japanese});
    EXPECT_EQ(rx::PreselectedDevice({devices[0], devices[1]}, 1), 1);
    EXPECT_EQ(rx::PreselectedDevice({devices[0], devices[1], devices[2]}, 2), 2);
    EXPECT_EQ(rx::PreselectedDevice(devices, 3), 3);
    EXPECT_EQ(rx::PreselectedDevice({devices[0], devices[2]}, 1), -1);
}

TEST(PortDiscovery, CandidatesCarryTheInstanceNumberFromTwoOn) {
    EXPECT_EQ(rx::CandidateNames(1)[2], "TAVO RX Series");
    EXPECT_EQ(rx::CandidateNames(2)[1], "USB Audio Device (2)");
    EXPECT_EQ(rx::CandidateNames(20)[2], "TAVO RX Series (20)");
}

}  // namespace
