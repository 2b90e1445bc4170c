// The multimedia MIDI calls over RtMidi and a private JACK server. The far end is an RtMidi
// virtual port pair in this process that echoes what it receives.
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>

#include "jack_server.h"
#include "midi_receiver.h"
#include "platform/device_directory.h"
#include "platform/mmsystem.h"
#include "platform/rtmidi_virtual_port.h"
#include "tests/platform/device_lists.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

class JackMidi : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        // Before the first MIDI call of this process, which fixes the backend for good.
        ::setenv("RX300_MIDI", "jack", 1);
        s_server = new JackServer;
        if (!s_server->Start(&s_startError)) {
            delete s_server;
            s_server = nullptr;
        }
    }
    static void TearDownTestSuite() {
        delete s_server;
        s_server = nullptr;
    }

    void SetUp() override {
        if (s_server == nullptr) {
            GTEST_SKIP() << "no private JACK server (jackd -d dummy): " << s_startError;
        }
        ASSERT_STREQ(platform::devices::RealSystemName(), "JACK");
        std::string error;
        ASSERT_TRUE(m_unit.Open(
            "TAVO RX Series",
            [this](const std::uint8_t* data, std::size_t length) {
                {
                    std::lock_guard lock(m_mutex);
                    m_received.emplace_back(data, data + length);
                }
                EXPECT_TRUE(m_unit.Send(data, length));
            },
            platform::MidiSystemChoice::Jack, &error))
            << error;
    }

    // Opens the unit's devices; the far end's ports are the only MIDI ports of this server.
    void OpenBoth() {
        ASSERT_EQ(OutputNames(), std::vector<std::string>{"TAVO RX Series"});
        ASSERT_EQ(InputNames(), std::vector<std::string>{"TAVO RX Series"});
        ASSERT_EQ(midiOutOpen(&m_out, 0, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        ASSERT_EQ(m_in.Open(0), MMSYSERR_NOERROR);
        ASSERT_EQ(m_in.Start(), MMSYSERR_NOERROR);
    }

    void TearDown() override {
        if (m_out != nullptr) {
            EXPECT_EQ(midiOutClose(m_out), MMSYSERR_NOERROR);
        }
        if (m_in.Handle() != nullptr) {
            EXPECT_EQ(m_in.Close(), MMSYSERR_NOERROR);
        }
        m_unit.Close();
    }

    MMRESULT SendLong(const Bytes& message, DWORD* flagsAfter = nullptr) {
        MIDIHDR header{};
        header.lpData = const_cast<char*>(reinterpret_cast<const char*>(message.data()));
        header.dwBufferLength = static_cast<DWORD>(message.size());
        MMRESULT result = midiOutPrepareHeader(m_out, &header, sizeof header);
        if (result == MMSYSERR_NOERROR) {
            result = midiOutLongMsg(m_out, &header, sizeof header);
        }
        if (flagsAfter != nullptr) {
            *flagsAfter = header.dwFlags;
        }
        midiOutUnprepareHeader(m_out, &header, sizeof header);
        return result;
    }

    std::vector<Bytes> Received() {
        std::lock_guard lock(m_mutex);
        return m_received;
    }

    static JackServer* s_server;
    static std::string s_startError;

    std::mutex m_mutex;
    std::vector<Bytes> m_received;
    platform::RtMidiVirtualPort m_unit;
    HMIDIOUT m_out = nullptr;
    MidiReceiver m_in{8192, 2};
};

JackServer* JackMidi::s_server = nullptr;
std::string JackMidi::s_startError;

TEST_F(JackMidi, OwnPortsStayOutOfTheDeviceLists) {
    OpenBoth();
    // Our open devices now have ports of their own on the server.
    EXPECT_EQ(OutputNames(), std::vector<std::string>{"TAVO RX Series"});
    EXPECT_EQ(InputNames(), std::vector<std::string>{"TAVO RX Series"});
    HMIDIIN bad = nullptr;
    EXPECT_NE(midiInOpen(&bad, MIDI_MAPPER, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
}

TEST_F(JackMidi, SysExRoundTripArrivesWholeAndInOrder) {
    OpenBoth();
    const std::vector<Bytes> sent = {MakeSysEx(6, 1),    MakeSysEx(2359, 2), MakeSysEx(8192, 3),
                                     MakeSysEx(2359, 4), MakeSysEx(8192, 5), MakeSysEx(16000, 6),
                                     MakeSysEx(12, 7)};
    for (const auto& message : sent) {
        DWORD flags = 0;
        ASSERT_EQ(SendLong(message, &flags), MMSYSERR_NOERROR) << message.size();
        EXPECT_NE(flags & MHDR_DONE, 0u);
    }
    // The 16000-byte message fills two 8192-byte buffers on the way back.
    ASSERT_TRUE(m_in.WaitForLong(sent.size() + 1));
    EXPECT_TRUE(Received() == sent) << Describe(Received());
    auto got = m_in.Long();
    ASSERT_EQ(got.size(), sent.size() + 1);
    got[5].insert(got[5].end(), got[6].begin(), got[6].end());
    got.erase(got.begin() + 6);
    EXPECT_TRUE(got == sent) << Describe(got);
    EXPECT_FALSE(m_in.CallbacksOverlapped());
}

TEST_F(JackMidi, ShortMessagesTravelToo) {
    OpenBoth();
    ASSERT_EQ(midiOutShortMsg(m_out, 0x007F3C90), MMSYSERR_NOERROR);
    ASSERT_EQ(midiOutShortMsg(m_out, 0x00000AC2), MMSYSERR_NOERROR);
    ASSERT_TRUE(m_in.WaitForShort(2)) << Describe(Received());
    EXPECT_EQ(Received(), (std::vector<Bytes>{{0x90, 0x3C, 0x7F}, {0xC2, 0x0A}}));
    EXPECT_EQ(m_in.Short(), (std::vector<DWORD>{0x007F3C90, 0x00000AC2}));
}

TEST_F(JackMidi, MessagesJackWouldDropAreRefused) {
    OpenBoth();
    DWORD flags = 0;
    EXPECT_NE(SendLong(MakeSysEx(16001, 1), &flags), MMSYSERR_NOERROR);
    EXPECT_EQ(flags & MHDR_DONE, 0u);
    EXPECT_FALSE(m_unit.Send(MakeSysEx(16001, 2).data(), 16001));
    // The link still works afterwards.
    ASSERT_EQ(SendLong(MakeSysEx(64, 3)), MMSYSERR_NOERROR);
    ASSERT_TRUE(m_in.WaitForLong(1));
    EXPECT_EQ(m_in.Long(), std::vector<Bytes>{MakeSysEx(64, 3)});
}

}  // namespace
