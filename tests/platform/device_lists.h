// The names of every MIDI input and output device, read through the platform calls.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/mmsystem.h"

inline std::vector<std::string> InputNames() {
    std::vector<std::string> names;
    const UINT count = midiInGetNumDevs();
    for (UINT i = 0; i < count; ++i) {
        MIDIINCAPSA caps{};
        EXPECT_EQ(midiInGetDevCapsA(i, &caps, sizeof caps), MMSYSERR_NOERROR);
        names.emplace_back(caps.szPname);
    }
    return names;
}

inline std::vector<std::string> OutputNames() {
    std::vector<std::string> names;
    const UINT count = midiOutGetNumDevs();
    for (UINT i = 0; i < count; ++i) {
        MIDIOUTCAPSA caps{};
        EXPECT_EQ(midiOutGetDevCapsA(i, &caps, sizeof caps), MMSYSERR_NOERROR);
        names.emplace_back(caps.szPname);
    }
    return names;
}
