// The ports over RtMidi and a private JACK server: the far end is an RtMidi virtual port pair in
// this process that echoes every message back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "loopback_messages.h"
#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"
#include "platform/rtmidi_virtual_port.h"
#include "tests/platform/jack_server.h"

namespace {

using loopback::Bytes;

constexpr char kUnitName[] = "RX300 Echo";

class MidiJackLoopbackTest : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Before the first MIDI call of this process, which fixes the backend for good.
        setenv("RX300_MIDI", "jack", 1);
        server = new JackServer;
        if (!server->Start(&startError)) {
            delete server;
            server = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }

    void SetUp() override {
        if (server == nullptr) {
            GTEST_SKIP() << "no private JACK server (jackd -d dummy): " << startError;
        }
        std::string error;
        ASSERT_TRUE(unit.Open(
            kUnitName,
            [this](const std::uint8_t* data, std::size_t length) {
                EXPECT_TRUE(unit.Send(data, length));
            },
            platform::MidiSystemChoice::Jack, &error))
            << error;
    }

    static inline JackServer* server = nullptr;
    static inline std::string startError;
    platform::RtMidiVirtualPort unit;
    MidiInPort in;
    MidiOutPort out;
};

TEST_F(MidiJackLoopbackTest, EveryMessageTypeArrivesWholeAndInOrder) {
    in.m_deviceIndex = loopback::FindDevice(in, kUnitName);
    const int output = loopback::FindDevice(out, kUnitName);
    ASSERT_GE(in.m_deviceIndex, 0);
    ASSERT_GE(output, 0);
    ASSERT_EQ(in.Start(), 1);
    ASSERT_EQ(out.Open(output), 1);

    std::vector<Bytes> sent = loopback::EveryMessageType();
    for (Bytes& message : sent) {
        MIDIHDR header = loopback::HeaderFor(message);
        ASSERT_EQ(out.SendLong(&header), 1) << message.size() << "-byte message";
    }

    const std::vector<Bytes> received = loopback::Receive(in, sent.size());
    ASSERT_EQ(received.size(), sent.size());
    for (std::size_t i = 0; i < sent.size(); ++i) {
        EXPECT_EQ(received[i], sent[i]) << "message " << i << " of " << sent[i].size() << " bytes";
    }
    in.Close();
    out.Close();
    unit.Close();
}

}  // namespace
