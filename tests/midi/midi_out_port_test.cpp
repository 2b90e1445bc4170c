#include "midi/midi_out_port.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "tests/support/fake_mmsystem.h"

namespace {

using rxtest::Bytes;
using rxtest::FakeMmSystem;
using rxtest::Fn;
using rxtest::ScopedMmSystem;
using testing::ElementsAre;
using testing::ElementsAreArray;

constexpr UINT kHeaderSize = sizeof(MIDIHDR);

std::uintptr_t Addr(const void* p) {
    return reinterpret_cast<std::uintptr_t>(p);
}

class MidiOutPortTest : public testing::Test {
  protected:
    void OpenPort(int index = 0) {
        ASSERT_EQ(port->Open(index), 1);
        fake.ClearCalls();
    }

    FakeMmSystem fake;
    ScopedMmSystem installed{fake};
    std::unique_ptr<MidiOutPort> port = std::make_unique<MidiOutPort>();

    Bytes message = {0xF0, 0x52, 0x00, 0x57, 0x01, 0xF7};
    MIDIHDR header = [this] {
        MIDIHDR h{};
        h.lpData = reinterpret_cast<LPSTR>(message.data());
        h.dwBufferLength = static_cast<DWORD>(message.size());
        return h;
    }();
};

TEST_F(MidiOutPortTest, OpenPassesTheIndexWithoutACallback) {
    ASSERT_EQ(port->Open(2), 1);
    EXPECT_THAT(fake.Sequence(), ElementsAre(Fn::midiOutOpen));
    EXPECT_THAT(fake.LastArgs(Fn::midiOutOpen), ElementsAre(testing::_, 2, 0, 0, CALLBACK_NULL));
    EXPECT_TRUE(port->IsOpen());
    EXPECT_EQ(port->DeviceIndex(), 2);
}

TEST_F(MidiOutPortTest, OpenOnTheOpenIndexMakesNoPlatformCall) {
    OpenPort(1);
    EXPECT_EQ(port->Open(1), 1);
    EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(MidiOutPortTest, OpenOnAnotherIndexClosesTheOpenDeviceFirst) {
    OpenPort(1);
    const auto first = Addr(fake.OutputHandle());

    ASSERT_EQ(port->Open(2), 1);

    EXPECT_THAT(fake.Sequence(), ElementsAre(Fn::midiOutClose, Fn::midiOutOpen));
    EXPECT_THAT(fake.LastArgs(Fn::midiOutClose), ElementsAre(first));
    EXPECT_EQ(fake.LastArgs(Fn::midiOutOpen)[1], 2u);
}

TEST_F(MidiOutPortTest, OpenMinusOnePassesTheMapperNumberAndFailsClosed) {
    EXPECT_EQ(port->Open(-1), 0);
    EXPECT_EQ(fake.LastArgs(Fn::midiOutOpen)[1], MIDI_MAPPER);
    EXPECT_FALSE(port->IsOpen());
    EXPECT_EQ(port->DeviceIndex(), -1);
}

TEST_F(MidiOutPortTest, AFailedOpenLeavesNothingToCloseOrSendTo) {
    fake.Fail(Fn::midiOutOpen);
    ASSERT_EQ(port->Open(0), 0);
    fake.ClearCalls();

    EXPECT_EQ(port->Close(), 0);
    EXPECT_EQ(port->SendLong(&header), 0);
    EXPECT_EQ(port->SendShort(0x90, 0x3C, 0x7F), 0);
    EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(MidiOutPortTest, CloseReportsWhetherADeviceWasOpen) {
    EXPECT_EQ(port->Close(), 0);
    EXPECT_TRUE(fake.Calls().empty());

    OpenPort();
    fake.Fail(Fn::midiOutClose);
    EXPECT_EQ(port->Close(), 1);
    EXPECT_FALSE(port->IsOpen());  // closed even when the platform objected
    EXPECT_EQ(port->Close(), 0);
    EXPECT_EQ(fake.CountOf(Fn::midiOutClose), 1);
}

TEST_F(MidiOutPortTest, DestructionClosesAnOpenDevice) {
    OpenPort();
    port.reset();
    EXPECT_THAT(fake.Sequence(), ElementsAre(Fn::midiOutClose));
    EXPECT_FALSE(fake.OutputOpen());
}

class MidiOutPortSendLong : public MidiOutPortTest, public testing::WithParamInterface<int> {};

TEST_P(MidiOutPortSendLong, ReturnsOnlyAfterDoneAndUnprepared) {
    const int polls = GetParam();
    OpenPort();
    fake.SetDoneAfterPolls(polls);

    ASSERT_EQ(port->SendLong(&header), 1);

    std::vector<Fn> expected = {Fn::midiOutPrepareHeader, Fn::midiOutLongMsg};
    expected.insert(expected.end(), polls, Fn::Sleep);
    expected.push_back(Fn::midiOutUnprepareHeader);
    EXPECT_THAT(fake.Sequence(), ElementsAreArray(expected));
    for (const auto& call : fake.Calls()) {
        if (call.fn == Fn::Sleep) {
            EXPECT_THAT(call.args, ElementsAre(1));
        } else {
            EXPECT_THAT(call.args,
                        ElementsAre(Addr(fake.OutputHandle()), Addr(&header), kHeaderSize));
        }
    }
    EXPECT_TRUE(header.dwFlags & MHDR_DONE);
    EXPECT_FALSE(header.dwFlags & MHDR_PREPARED);
    EXPECT_THAT(fake.SentLong(), ElementsAre(message));
}

INSTANTIATE_TEST_SUITE_P(Polls, MidiOutPortSendLong, testing::Values(0, 1, 5));

TEST_F(MidiOutPortTest, SendLongOnAClosedPortMakesNoPlatformCall) {
    EXPECT_EQ(port->SendLong(&header), 0);
    EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(MidiOutPortTest, RefusedPrepareSendsNothing) {
    OpenPort();
    fake.Fail(Fn::midiOutPrepareHeader);
    EXPECT_EQ(port->SendLong(&header), 0);
    EXPECT_THAT(fake.Sequence(), ElementsAre(Fn::midiOutPrepareHeader));
    EXPECT_TRUE(fake.SentLong().empty());
}

TEST_F(MidiOutPortTest, RefusedLongMessageLeavesTheHeaderUnprepared) {
    OpenPort();
    fake.Fail(Fn::midiOutLongMsg);
    EXPECT_EQ(port->SendLong(&header), 0);
    EXPECT_THAT(fake.Sequence(), ElementsAre(Fn::midiOutPrepareHeader, Fn::midiOutLongMsg,
                                             Fn::midiOutUnprepareHeader));
    EXPECT_FALSE(header.dwFlags & MHDR_PREPARED);
}

TEST_F(MidiOutPortTest, SendShortPacksTheMessageLowByteFirst) {
    OpenPort();
    EXPECT_EQ(port->SendShort(0x90, 0x3C, 0x7F), 1);
    EXPECT_THAT(fake.SentShort(), ElementsAre(0x007F3C90u));

    fake.Fail(Fn::midiOutShortMsg);
    EXPECT_EQ(port->SendShort(0xF8, 0, 0), 0);
}

TEST_F(MidiOutPortTest, DeviceNamesComeFromTheCapabilities) {
    char name[40];
    std::memset(name, '?', sizeof(name));
    port->GetDeviceName(2, name);
    EXPECT_STREQ(name, "Fake Out C");
    EXPECT_THAT(fake.LastArgs(Fn::midiOutGetDevCapsA), ElementsAre(2, testing::_, 52));

    fake.SetOutputDevices({"TAVO RX Series 1234567890123456"});  // 31 characters, the most
    port->GetDeviceName(0, name);
    EXPECT_STREQ(name, "TAVO RX Series 1234567890123456");

    port->GetDeviceName(3, name);
    EXPECT_STREQ(name, "");

    EXPECT_EQ(port->GetDeviceCount(), 1);
}

}  // namespace
