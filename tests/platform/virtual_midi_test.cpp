// The multimedia MIDI calls over in-process virtual devices, with no MIDI system at all.
#include "platform/virtual_midi.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "midi_receiver.h"
#include "platform/midi_in_device.h"
#include "platform/mmsystem.h"
#include "tests/platform/device_lists.h"

namespace {

// Before the first MIDI call of the process: only virtual devices, whatever this machine has.
const bool g_virtualOnly = [] { return ::setenv("RX300_MIDI", "virtual", 1) == 0; }();

using Bytes = std::vector<std::uint8_t>;

// A virtual device that records what the host sends and can echo it back.
class FarEnd {
  public:
    explicit FarEnd(const std::string& name, bool echo = false) {
        m_endpoint = vmidi::RegisterDevicePair(
            name, [this, echo](const std::uint8_t* data, std::size_t length) {
                {
                    std::lock_guard lock(m_mutex);
                    m_received.emplace_back(data, data + length);
                }
                if (echo) {
                    m_endpoint->SendToHost(data, length);
                }
            });
    }

    vmidi::Endpoint& Endpoint() { return *m_endpoint; }
    void Unregister() { m_endpoint.reset(); }
    std::vector<Bytes> Received() {
        std::lock_guard lock(m_mutex);
        return m_received;
    }

  private:
    std::mutex m_mutex;
    std::vector<Bytes> m_received;
    std::shared_ptr<vmidi::Endpoint> m_endpoint;
};

// Device number of the first device named `name`, after a fresh count.
UINT InputNumber(const std::string& name) {
    const auto names = InputNames();
    for (UINT i = 0; i < names.size(); ++i) {
        if (names[i] == name) {
            return i;
        }
    }
    ADD_FAILURE() << "no input device " << name;
    return MIDI_MAPPER;
}

UINT OutputNumber(const std::string& name) {
    const auto names = OutputNames();
    for (UINT i = 0; i < names.size(); ++i) {
        if (names[i] == name) {
            return i;
        }
    }
    ADD_FAILURE() << "no output device " << name;
    return MIDI_MAPPER;
}

MMRESULT SendLong(HMIDIOUT out, const Bytes& message, DWORD* flagsAfter = nullptr) {
    MIDIHDR header{};
    header.lpData = const_cast<char*>(reinterpret_cast<const char*>(message.data()));
    header.dwBufferLength = static_cast<DWORD>(message.size());
    MMRESULT result = midiOutPrepareHeader(out, &header, sizeof header);
    if (result == MMSYSERR_NOERROR) {
        result = midiOutLongMsg(out, &header, sizeof header);
    }
    if (flagsAfter != nullptr) {
        *flagsAfter = header.dwFlags;
    }
    midiOutUnprepareHeader(out, &header, sizeof header);
    return result;
}

TEST(VirtualMidi, PairsAreListedInOrderAndRepeatedNamesNumbered) {
    ASSERT_TRUE(g_virtualOnly);
    FarEnd a("TAVO RX Series"), b("USB Audio Device"), c("TAVO RX Series"), d("TAVO RX Series");
    const std::vector<std::string> expected = {"TAVO RX Series", "USB Audio Device",
                                               "TAVO RX Series (2)", "TAVO RX Series (3)"};
    EXPECT_EQ(InputNames(), expected);
    EXPECT_EQ(OutputNames(), expected);
}

TEST(VirtualMidi, ACountReadsTheDevicesAfresh) {
    FarEnd first("First");
    EXPECT_EQ(midiInGetNumDevs(), 1u);
    {
        FarEnd second("Second");
        EXPECT_EQ(midiInGetNumDevs(), 2u);
        EXPECT_EQ(midiOutGetNumDevs(), 2u);
    }
    EXPECT_EQ(midiInGetNumDevs(), 1u);
    EXPECT_EQ(midiOutGetNumDevs(), 1u);
    EXPECT_EQ(InputNames(), std::vector<std::string>{"First"});
}

TEST(VirtualMidi, DevicesOutsideTheListDoNotOpenAndHaveNoName) {
    FarEnd device("TAVO RX Series");
    const UINT count = midiInGetNumDevs();
    ASSERT_EQ(count, 1u);
    ASSERT_EQ(midiOutGetNumDevs(), 1u);
    for (UINT bad : {MIDI_MAPPER, count, count + 7}) {
        SCOPED_TRACE(bad);
        HMIDIIN in = nullptr;
        EXPECT_NE(midiInOpen(&in, bad, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        EXPECT_EQ(in, nullptr);
        HMIDIOUT out = nullptr;
        EXPECT_NE(midiOutOpen(&out, bad, 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
        EXPECT_EQ(out, nullptr);

        MIDIINCAPSA inCaps;
        std::memset(&inCaps, 'x', sizeof inCaps);
        EXPECT_NE(midiInGetDevCapsA(bad, &inCaps, sizeof inCaps), MMSYSERR_NOERROR);
        EXPECT_STREQ(inCaps.szPname, "");
        MIDIOUTCAPSA outCaps;
        std::memset(&outCaps, 'x', sizeof outCaps);
        EXPECT_NE(midiOutGetDevCapsA(bad, &outCaps, sizeof outCaps), MMSYSERR_NOERROR);
        EXPECT_STREQ(outCaps.szPname, "");
    }
}

class VirtualLoop : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(g_virtualOnly);
        ASSERT_EQ(midiOutOpen(&m_out, OutputNumber("TAVO RX Series"), 0, 0, CALLBACK_NULL),
                  MMSYSERR_NOERROR);
        ASSERT_EQ(m_in.Open(InputNumber("TAVO RX Series")), MMSYSERR_NOERROR);
    }
    void TearDown() override {
        if (m_out != nullptr) {
            EXPECT_EQ(midiOutClose(m_out), MMSYSERR_NOERROR);
        }
        if (m_in.Handle() != nullptr) {
            EXPECT_EQ(m_in.Close(), MMSYSERR_NOERROR);
        }
    }

    FarEnd m_unit{"TAVO RX Series", true};
    HMIDIOUT m_out = nullptr;
    MidiReceiver m_in;
};

TEST_F(VirtualLoop, SysExArrivesWholeAndInOrder) {
    ASSERT_EQ(m_in.Start(), MMSYSERR_NOERROR);
    const std::vector<Bytes> sent = {MakeSysEx(6, 1),    MakeSysEx(2359, 2), MakeSysEx(8192, 3),
                                     MakeSysEx(15, 4),   MakeSysEx(2359, 5), MakeSysEx(8192, 6),
                                     MakeSysEx(1000, 7), MakeSysEx(7, 8)};
    for (const auto& message : sent) {
        DWORD flags = 0;
        ASSERT_EQ(SendLong(m_out, message, &flags), MMSYSERR_NOERROR);
        EXPECT_NE(flags & MHDR_DONE, 0u) << "done when midiOutLongMsg returns";
        EXPECT_EQ(flags & MHDR_INQUEUE, 0u);
    }
    ASSERT_TRUE(m_in.WaitForLong(sent.size()));
    EXPECT_TRUE(m_unit.Received() == sent)
        << "one send, one message at the far end: " << Describe(m_unit.Received());
    EXPECT_TRUE(m_in.Long() == sent) << Describe(m_in.Long());
    EXPECT_FALSE(m_in.CallbacksOverlapped());
}

TEST_F(VirtualLoop, ASysExLongerThanTheBufferGoesOnInTheNextBuffer) {
    ASSERT_EQ(m_in.Start(), MMSYSERR_NOERROR);
    const Bytes message = MakeSysEx(20000, 9);
    m_unit.Endpoint().SendToHost(message.data(), message.size());
    ASSERT_TRUE(m_in.WaitForLong(3));
    const auto got = m_in.Long();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_TRUE(got[0] == Bytes(message.begin(), message.begin() + 8192)) << Describe(got);
    EXPECT_TRUE(got[1] == Bytes(message.begin() + 8192, message.begin() + 16384)) << Describe(got);
    EXPECT_TRUE(got[2] == Bytes(message.begin() + 16384, message.end())) << Describe(got);
    EXPECT_NE(got[0].back(), 0xF7);
    EXPECT_NE(got[1].front(), 0xF0) << "the rest does not look like a message of its own";
}

TEST_F(VirtualLoop, ShortMessagesArrivePackedLowByteFirst) {
    ASSERT_EQ(m_in.Start(), MMSYSERR_NOERROR);
    struct Case {
        DWORD word;
        Bytes sent;
    };
    const Case cases[] = {
        {0x007F3C90, {0x90, 0x3C, 0x7F}},  // note on
        {0x00000AC2, {0xC2, 0x0A}},        // program change
        {0x004000E0, {0xE0, 0x00, 0x40}},  // pitch bend, centre
        {0x000000F8, {0xF8}},              // clock, real-time
        {0x00FFFFFE, {0xFE}},              // bytes beyond the status's length are not sent
    };
    for (const auto& c : cases) {
        ASSERT_EQ(midiOutShortMsg(m_out, c.word), MMSYSERR_NOERROR);
    }
    ASSERT_TRUE(m_in.WaitForShort(std::size(cases)));
    const auto far = m_unit.Received();
    const auto packed = m_in.Short();
    ASSERT_EQ(far.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(far[i], cases[i].sent);
        DWORD expected = 0;
        for (std::size_t b = 0; b < cases[i].sent.size(); ++b) {
            expected |= DWORD{cases[i].sent[b]} << (8 * b);
        }
        EXPECT_EQ(packed[i], expected);
    }
    for (DWORD refused : {DWORD{0xF0}, DWORD{0xF7}, DWORD{0x40}}) {
        EXPECT_NE(midiOutShortMsg(m_out, refused), MMSYSERR_NOERROR) << refused;
    }
}

TEST_F(VirtualLoop, MessagesWhileStoppedOrWithoutABufferAreDropped) {
    const Bytes early = MakeSysEx(10, 1);
    m_unit.Endpoint().SendToHost(early.data(), early.size());
    const auto waitDropped = [&](UINT count) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (platform::midi_in::MessagesDropped(m_in.Handle()) < count &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::yield();
        }
        return platform::midi_in::MessagesDropped(m_in.Handle()) >= count;
    };
    ASSERT_TRUE(waitDropped(1)) << "not started yet";

    m_in.SetRequeue(false);
    ASSERT_EQ(m_in.Start(), MMSYSERR_NOERROR);
    const Bytes first = MakeSysEx(10, 2), second = MakeSysEx(10, 3);
    m_unit.Endpoint().SendToHost(first.data(), first.size());
    m_unit.Endpoint().SendToHost(second.data(), second.size());
    ASSERT_TRUE(m_in.WaitForLong(1));
    ASSERT_TRUE(waitDropped(2)) << "the one buffer was not queued again";

    m_in.SetRequeue(true);
    ASSERT_EQ(midiInAddBuffer(m_in.Handle(), &m_in.Header(0), sizeof(MIDIHDR)), MMSYSERR_NOERROR);
    const Bytes third = MakeSysEx(10, 4);
    m_unit.Endpoint().SendToHost(third.data(), third.size());
    ASSERT_TRUE(m_in.WaitForLong(2));
    EXPECT_EQ(m_in.Long(), (std::vector<Bytes>{first, third}));
}

TEST(VirtualMidiInput, ResetHandsBackEveryQueuedBufferEmptyOnTheCallersThread) {
    FarEnd unit("Unit");
    MidiReceiver in(256, 3);
    ASSERT_EQ(in.Open(InputNumber("Unit")), MMSYSERR_NOERROR);
    EXPECT_EQ(in.Opens(), 1) << "MIM_OPEN before midiInOpen returns";
    ASSERT_EQ(in.Start(), MMSYSERR_NOERROR);

    EXPECT_EQ(midiInReset(in.Handle()), MMSYSERR_NOERROR);
    EXPECT_EQ(in.EmptyReturns(), 3) << "all three, before midiInReset returns";
    EXPECT_EQ(in.LastEmptyReturnThread(), std::this_thread::get_id());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(in.Header(i).dwBytesRecorded, 0u);
        EXPECT_NE(in.Header(i).dwFlags & MHDR_DONE, 0u);
        EXPECT_EQ(in.Header(i).dwFlags & MHDR_INQUEUE, 0u);
    }
    EXPECT_EQ(in.Close(), MMSYSERR_NOERROR);
    EXPECT_EQ(in.Closes(), 1) << "MIM_CLOSE before midiInClose returns";
}

TEST(VirtualMidiInput, QueuedBuffersHoldOffUnprepareAndClose) {
    FarEnd unit("Unit");
    MidiReceiver in;
    ASSERT_EQ(in.Open(InputNumber("Unit")), MMSYSERR_NOERROR);
    HMIDIIN handle = in.Handle();
    MIDIHDR& header = in.Header(0);

    EXPECT_EQ(midiInAddBuffer(handle, &header, sizeof header), MIDIERR_UNPREPARED);
    ASSERT_EQ(midiInPrepareHeader(handle, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInPrepareHeader(handle, &header, sizeof header), MMSYSERR_NOERROR)
        << "preparing twice is harmless";
    ASSERT_EQ(midiInAddBuffer(handle, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInUnprepareHeader(handle, &header, sizeof header), MIDIERR_STILLPLAYING);
    EXPECT_EQ(midiInClose(handle), MIDIERR_STILLPLAYING);

    EXPECT_EQ(in.Close(), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInStart(handle), MMSYSERR_INVALHANDLE) << "the handle is gone once closed";
}

TEST(VirtualMidiOutput, LongMessagesNeedAPreparedHeader) {
    FarEnd unit("Unit");
    HMIDIOUT out = nullptr;
    ASSERT_EQ(midiOutOpen(&out, OutputNumber("Unit"), 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    Bytes message = MakeSysEx(8, 1);
    MIDIHDR header{};
    header.lpData = reinterpret_cast<char*>(message.data());
    header.dwBufferLength = static_cast<DWORD>(message.size());
    EXPECT_EQ(midiOutLongMsg(out, &header, sizeof header), MIDIERR_UNPREPARED);
    EXPECT_EQ(header.dwFlags & MHDR_DONE, 0u);
    EXPECT_TRUE(unit.Received().empty());
    ASSERT_EQ(midiOutPrepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_NE(header.dwFlags & MHDR_PREPARED, 0u);
    EXPECT_EQ(midiOutLongMsg(out, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutUnprepareHeader(out, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(header.dwFlags & MHDR_PREPARED, 0u);
    EXPECT_EQ(unit.Received(), std::vector<Bytes>{message});
    EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutClose(out), MMSYSERR_INVALHANDLE);
}

TEST(VirtualMidiOutput, SendsToAnUnregisteredPairFail) {
    FarEnd unit("Unit", true);
    HMIDIOUT out = nullptr;
    ASSERT_EQ(midiOutOpen(&out, OutputNumber("Unit"), 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    MidiReceiver in;
    ASSERT_EQ(in.Open(InputNumber("Unit")), MMSYSERR_NOERROR);
    ASSERT_EQ(in.Start(), MMSYSERR_NOERROR);
    ASSERT_EQ(SendLong(out, MakeSysEx(8, 1)), MMSYSERR_NOERROR);
    ASSERT_TRUE(in.WaitForLong(1));

    unit.Unregister();
    DWORD flags = 0;
    EXPECT_NE(SendLong(out, MakeSysEx(8, 2), &flags), MMSYSERR_NOERROR);
    EXPECT_EQ(flags & MHDR_DONE, 0u) << "a refused message is not done";
    EXPECT_NE(midiOutShortMsg(out, 0x90), MMSYSERR_NOERROR);
    EXPECT_EQ(midiOutGetNumDevs(), 0u);
    EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);
    EXPECT_EQ(in.Close(), MMSYSERR_NOERROR);
    EXPECT_EQ(in.Long().size(), 1u);
}

TEST(VirtualMidiOutput, SendsFromTwoThreadsArriveWhole) {
    FarEnd unit("Unit");
    HMIDIOUT out = nullptr;
    ASSERT_EQ(midiOutOpen(&out, OutputNumber("Unit"), 0, 0, CALLBACK_NULL), MMSYSERR_NOERROR);
    constexpr int kEach = 50;
    auto sender = [&](std::uint8_t seed) {
        for (int i = 0; i < kEach; ++i) {
            EXPECT_EQ(SendLong(out, MakeSysEx(2359, seed)), MMSYSERR_NOERROR);
        }
    };
    std::thread a(sender, 1), b(sender, 2);
    a.join();
    b.join();
    const auto received = unit.Received();
    ASSERT_EQ(received.size(), 2u * kEach);
    for (const auto& message : received) {
        EXPECT_TRUE(message == MakeSysEx(2359, 1) || message == MakeSysEx(2359, 2));
    }
    EXPECT_EQ(midiOutClose(out), MMSYSERR_NOERROR);
}

TEST(VirtualMidiInput, NoCallbackRunsOnceCloseHasReturned) {
    FarEnd unit("Unit");
    struct Watched : MidiReceiver {
        std::atomic<bool> closed{false};
        std::atomic<bool> late{false};
        static void CALLBACK Proc(HMIDIIN h, UINT m, DWORD_PTR inst, DWORD_PTR p1, DWORD_PTR p2) {
            auto* self = reinterpret_cast<Watched*>(inst);
            if (self->closed) {
                self->late = true;
            }
            MidiReceiver::Callback(h, m, inst, p1, p2);
        }
    } in;
    HMIDIIN handle = nullptr;
    ASSERT_EQ(midiInOpen(&handle, InputNumber("Unit"), reinterpret_cast<DWORD_PTR>(&Watched::Proc),
                         reinterpret_cast<DWORD_PTR>(&in), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    MIDIHDR& header = in.Header(0);
    ASSERT_EQ(midiInPrepareHeader(handle, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInAddBuffer(handle, &header, sizeof header), MMSYSERR_NOERROR);
    ASSERT_EQ(midiInStart(handle), MMSYSERR_NOERROR);

    std::atomic<bool> stop{false};
    std::thread flood([&] {
        const Bytes message = MakeSysEx(300, 5);
        while (!stop) {
            unit.Endpoint().SendToHost(message.data(), message.size());
            std::this_thread::yield();
        }
    });
    ASSERT_TRUE(in.WaitForLong(20));
    // Close as MidiInPort::Stop does while messages keep coming.
    EXPECT_EQ(midiInStop(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInReset(handle), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInUnprepareHeader(handle, &header, sizeof header), MMSYSERR_NOERROR);
    EXPECT_EQ(midiInClose(handle), MMSYSERR_NOERROR);
    in.closed = true;
    const auto got = in.Long().size();
    for (int i = 0; i < 200; ++i) {
        const Bytes message = MakeSysEx(300, 6);
        unit.Endpoint().SendToHost(message.data(), message.size());
    }
    stop = true;
    flood.join();
    EXPECT_FALSE(in.late);
    EXPECT_EQ(in.Long().size(), got);
    EXPECT_FALSE(in.CallbacksOverlapped());
}

TEST(VirtualMidiInput, CloseFromInsideTheCallbackIsRefusedInsteadOfHanging) {
    FarEnd unit("Unit");
    struct Closer {
        std::atomic<MMRESULT> openClose{MMSYSERR_NOERROR};
        std::atomic<MMRESULT> dataClose{MMSYSERR_NOERROR};
        std::atomic<bool> data{false};
        static void CALLBACK Proc(HMIDIIN h, UINT m, DWORD_PTR inst, DWORD_PTR, DWORD_PTR) {
            auto* self = reinterpret_cast<Closer*>(inst);
            if (m == MIM_OPEN) {
                self->openClose = midiInClose(h);
            } else if (m == MIM_DATA) {
                self->dataClose = midiInClose(h);
                self->data = true;
            }
        }
    } closer;
    HMIDIIN handle = nullptr;
    ASSERT_EQ(midiInOpen(&handle, InputNumber("Unit"), reinterpret_cast<DWORD_PTR>(&Closer::Proc),
                         reinterpret_cast<DWORD_PTR>(&closer), CALLBACK_FUNCTION),
              MMSYSERR_NOERROR);
    EXPECT_NE(closer.openClose, MMSYSERR_NOERROR);
    ASSERT_EQ(midiInStart(handle), MMSYSERR_NOERROR);
    const std::uint8_t clock = 0xF8;
    unit.Endpoint().SendToHost(&clock, 1);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!closer.data && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::yield();
    }
    ASSERT_TRUE(closer.data);
    EXPECT_NE(closer.dataClose, MMSYSERR_NOERROR);
    EXPECT_EQ(midiInClose(handle), MMSYSERR_NOERROR) << "the device stayed open";
}

}  // namespace
