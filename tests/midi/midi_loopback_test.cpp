// The ports over the real platform: a MidiOutPort sends to a virtual device pair that echoes
// every message straight back to a MidiInPort.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "loopback_messages.h"
#include "midi/midi_in_port.h"
#include "midi/midi_out_port.h"
#include "platform/virtual_midi.h"

namespace {

using loopback::Bytes;

constexpr char kPairName[] = "RX300 Loopback";

class MidiLoopbackTest : public testing::Test {
  protected:
    // Before the first MIDI call of this process, which fixes the backend for good.
    static void SetUpTestSuite() { setenv("RX300_MIDI", "virtual", 1); }

    void SetUp() override {
        // The handler runs on the sending thread, during the send: it only queues the echo.
        pair = vmidi::RegisterDevicePair(kPairName,
                                         [this](const std::uint8_t* data, std::size_t length) {
                                             pair->SendToHost(data, length);
                                         });
        ASSERT_NE(pair, nullptr);
        in.m_deviceIndex = loopback::FindDevice(in, kPairName);
        output = loopback::FindDevice(out, kPairName);
        ASSERT_GE(in.m_deviceIndex, 0);
        ASSERT_GE(output, 0);
    }

    std::shared_ptr<vmidi::Endpoint> pair;
    MidiInPort in;
    MidiOutPort out;
    int output = -1;
};

TEST_F(MidiLoopbackTest, EveryMessageTypeArrivesWholeAndInOrder) {
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
    EXPECT_EQ(out.Close(), 1);
    EXPECT_EQ(in.Close(), 1);
}

TEST_F(MidiLoopbackTest, RestartedPortReceivesAgain) {
    ASSERT_EQ(out.Open(output), 1);
    for (std::uint8_t round = 0; round < 3; ++round) {
        in.Close();
        ASSERT_EQ(in.Start(), 1) << "round " << int(round);
        Bytes message = {0xF0, 0x52, 0x00, 0x57, 0x00, round, 0xF7};
        MIDIHDR header = loopback::HeaderFor(message);
        ASSERT_EQ(out.SendLong(&header), 1);

        const std::vector<Bytes> received = loopback::Receive(in, 1);
        ASSERT_EQ(received.size(), 1u) << "round " << int(round);
        EXPECT_EQ(received[0], message);
    }
}

}  // namespace
