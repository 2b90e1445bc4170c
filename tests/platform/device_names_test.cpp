#include "platform/device_names.h"

#include <gtest/gtest.h>

namespace {

using platform::JackClientName;
using platform::JackShortName;
using platform::NumberDuplicateNames;
using platform::ParseAlsaPortName;
using platform::TruncateUtf8;

TEST(DeviceNames, AlsaPortNamesLoseTheirClientAndPortNumbers) {
    struct Case {
        const char* full;
        const char* client;
        const char* port;
        int clientNumber;
        int portNumber;
    };
    const Case cases[] = {
        {"TAVO RX Series:TAVO RX Series 128:0", "TAVO RX Series", "TAVO RX Series", 128, 0},
        {"UM-ONE:UM-ONE MIDI 1 24:0", "UM-ONE", "UM-ONE MIDI 1", 24, 0},
        {"Midi Through:Midi Through Port-0 14:0", "Midi Through", "Midi Through Port-0", 14, 0},
        {"Synth:Port 2:3 130:12", "Synth", "Port 2:3", 130, 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.full);
        const auto parsed = ParseAlsaPortName(c.full);
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(parsed->client, c.client);
        EXPECT_EQ(parsed->port, c.port);
        EXPECT_EQ(parsed->clientNumber, c.clientNumber);
        EXPECT_EQ(parsed->portNumber, c.portNumber);
    }
}

TEST(DeviceNames, NamesWithoutAlsaNumbersAreNotTakenForAlsaNames) {
    for (const char* full :
         {"TAVO RX Series", "client:port", "client:port 12", "a:b x:1", "a:b 1:", "a:b 1:2x"}) {
        SCOPED_TRACE(full);
        EXPECT_FALSE(ParseAlsaPortName(full).has_value());
    }
}

TEST(DeviceNames, JackPortsAreNamedByTheirShortName) {
    EXPECT_EQ(JackShortName("TAVO RX Series-01:TAVO RX Series"), "TAVO RX Series");
    EXPECT_EQ(JackClientName("TAVO RX Series-01:TAVO RX Series"), "TAVO RX Series-01");
    EXPECT_EQ(JackShortName("a2j:USB [20] (capture): USB MIDI 1"),
              "USB [20] (capture): USB MIDI 1");
    EXPECT_EQ(JackShortName("no-colon"), "no-colon");
    EXPECT_EQ(JackClientName("no-colon"), "");
}

TEST(DeviceNames, TruncationNeverSplitsAUtf8Character) {
    // "オ" is three bytes: E3 82 AA.
    const std::string text =
        "ab\xE3\x82\xAA"
        "cd";
    EXPECT_EQ(TruncateUtf8(text, 7), text);
    EXPECT_EQ(TruncateUtf8(text, 6),
              "ab\xE3\x82\xAA"
              "c");
    EXPECT_EQ(TruncateUtf8(text, 5), "ab\xE3\x82\xAA");
    EXPECT_EQ(TruncateUtf8(text, 4), "ab");
    EXPECT_EQ(TruncateUtf8(text, 3), "ab");
    EXPECT_EQ(TruncateUtf8(text, 2), "ab");
}

TEST(DeviceNames, RepeatedNamesAreNumberedInDeviceOrder) {
    const std::vector<std::string> names = {"TAVO RX Series", "USB Audio Device", "TAVO RX Series",
                                            "TAVO RX Series", "USB Audio Device"};
    const std::vector<std::string> expected = {"TAVO RX Series", "USB Audio Device",
                                               "TAVO RX Series (2)", "TAVO RX Series (3)",
                                               "USB Audio Device (2)"};
    EXPECT_EQ(NumberDuplicateNames(names), expected);
}

TEST(DeviceNames, LongNamesFitTheNameFieldAndKeepTheirNumber) {
    const std::string longName(40, 'x');
    // 30 ASCII bytes, then a three-byte character that does not fit whole.
    const std::string wide = std::string(30, 'y') + "\xE3\x82\xAA";
    const auto names = NumberDuplicateNames({longName, longName, wide, wide});
    ASSERT_EQ(names.size(), 4u);
    EXPECT_EQ(names[0], std::string(31, 'x'));
    EXPECT_EQ(names[1], std::string(27, 'x') + " (2)");
    EXPECT_EQ(names[2], std::string(30, 'y'));
    EXPECT_EQ(names[3], std::string(27, 'y') + " (2)");
    for (const auto& name : names) {
        EXPECT_LE(name.size(), platform::kDeviceNameBytes);
    }
}

TEST(DeviceNames, NamesThatDifferOnlyBeyondTheFieldCountAsTheSame) {
    const std::string stem(31, 'z');
    const auto names = NumberDuplicateNames({stem + "A", stem + "B"});
    EXPECT_EQ(names[0], stem);
    EXPECT_EQ(names[1], std::string(27, 'z') + " (2)");
}

}  // namespace
