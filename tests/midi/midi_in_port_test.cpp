#include "midi/midi_in_port.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <thread>

#include "tests/support/fake_mmsystem.h"

// Counts the array allocations still live, which is how the port stores its copies.
namespace {
std::atomic<long> g_liveArrays{0};
}  // namespace

void* operator new[](std::size_t size) {
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        ++g_liveArrays;
        return p;
    }
    throw std::bad_alloc();
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    void* p = std::malloc(size == 0 ? 1 : size);
    if (p != nullptr) {
        ++g_liveArrays;
    }
    return p;
}
void operator delete[](void* p) noexcept {
    if (p != nullptr) {
        --g_liveArrays;
        std::free(p);
    }
}
void operator delete[](void* p, std::size_t) noexcept {
    operator delete[](p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    operator delete[](p);
}

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

class MidiInPortTest : public testing::Test {
  protected:
    void StartPort() {
        ASSERT_EQ(port->Start(), 1);
        fake.ClearCalls();
    }

    // The oldest copy in the queue, with the length the port keeps beside it.
    Bytes PeekCopy() {
        DWORD length = 0;
        const BYTE* copy = port->PeekSysEx(&length);
        return copy == nullptr ? Bytes{} : Bytes(copy, copy + length);
    }

    FakeMmSystem fake;
    ScopedMmSystem installed{fake};
    std::unique_ptr<MidiInPort> port = std::make_unique<MidiInPort>();
};

TEST_F(MidiInPortTest, StartOpensTheDeviceAndQueuesOneZeroedBuffer) {
    port->m_deviceIndex = 2;
    ASSERT_EQ(port->Start(), 1);

    EXPECT_THAT(fake.Sequence(),
                ElementsAre(Fn::HeapAlloc, Fn::HeapAlloc, Fn::midiInOpen, Fn::midiInReset,
                            Fn::midiInPrepareHeader, Fn::midiInAddBuffer, Fn::midiInStart));
    const auto calls = fake.Calls();
    EXPECT_THAT(calls[0].args, ElementsAre(HEAP_ZERO_MEMORY, sizeof(MIDIHDR)));
    EXPECT_THAT(calls[1].args, ElementsAre(HEAP_ZERO_MEMORY, MidiInPort::kReceiveBufferSize));
    EXPECT_THAT(calls[2].args,
                ElementsAre(testing::_, 2, Addr(reinterpret_cast<void*>(&MidiInPort::OnMidiInput)),
                            Addr(port.get()), CALLBACK_FUNCTION));
    EXPECT_EQ(calls[4].args[2], kHeaderSize);
    EXPECT_EQ(calls[5].args[2], kHeaderSize);

    MIDIHDR* header = fake.OldestQueuedInputBuffer();
    ASSERT_NE(header, nullptr);
    EXPECT_EQ(Addr(header), calls[4].args[1]);
    ASSERT_NE(header->lpData, nullptr);
    EXPECT_THAT(Bytes(header->lpData, header->lpData + MidiInPort::kReceiveBufferSize),
                testing::Each(0));
    EXPECT_EQ(header->dwBufferLength, MidiInPort::kReceiveBufferSize);
    EXPECT_EQ(header->dwUser, 0u);
    EXPECT_EQ(header->lpNext, nullptr);
    EXPECT_EQ(header->dwOffset, 0u);
    EXPECT_TRUE(fake.InputStarted());
    EXPECT_TRUE(port->IsStarted());
}

TEST_F(MidiInPortTest, StartOnAStartedPortMakesNoPlatformCall) {
    StartPort();
    port->m_deviceIndex = 1;
    EXPECT_EQ(port->Start(), 1);
    EXPECT_TRUE(fake.Calls().empty());
}

struct StartFailure {
    const char* name;
    Fn fn;
    int nth;
    std::vector<Fn> calls;
};

class MidiInPortStartFailure : public MidiInPortTest,
                               public testing::WithParamInterface<StartFailure> {};

TEST_P(MidiInPortStartFailure, ReleasesWhatTheEarlierStepsTook) {
    const auto& c = GetParam();
    fake.FailCall(c.fn, c.nth);

    EXPECT_EQ(port->Start(), 0);

    EXPECT_THAT(fake.Sequence(), ElementsAreArray(c.calls));
    EXPECT_FALSE(port->IsStarted());
    EXPECT_FALSE(fake.InputOpen());
    EXPECT_EQ(fake.LiveHeapBlocks(), 0);
    EXPECT_EQ(fake.BadHeapFrees(), 0);
    // Nothing is left behind that would stop a second attempt.
    EXPECT_EQ(port->Start(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, MidiInPortStartFailure,
    testing::Values(
        StartFailure{"HeaderAllocation", Fn::HeapAlloc, 1, {Fn::HeapAlloc}},
        StartFailure{
            "BufferAllocation", Fn::HeapAlloc, 2, {Fn::HeapAlloc, Fn::HeapAlloc, Fn::HeapFree}},
        StartFailure{"Open",
                     Fn::midiInOpen,
                     1,
                     {Fn::HeapAlloc, Fn::HeapAlloc, Fn::midiInOpen, Fn::HeapFree, Fn::HeapFree}},
        StartFailure{"Reset",
                     Fn::midiInReset,
                     1,
                     {Fn::HeapAlloc, Fn::HeapAlloc, Fn::midiInOpen, Fn::midiInReset,
                      Fn::midiInClose, Fn::HeapFree, Fn::HeapFree}},
        StartFailure{"Prepare",
                     Fn::midiInPrepareHeader,
                     1,
                     {Fn::HeapAlloc, Fn::HeapAlloc, Fn::midiInOpen, Fn::midiInReset,
                      Fn::midiInPrepareHeader, Fn::midiInClose, Fn::HeapFree, Fn::HeapFree}},
        StartFailure{"AddBuffer",
                     Fn::midiInAddBuffer,
                     1,
                     {Fn::HeapAlloc, Fn::HeapAlloc, Fn::midiInOpen, Fn::midiInReset,
                      Fn::midiInPrepareHeader, Fn::midiInAddBuffer, Fn::midiInUnprepareHeader,
                      Fn::midiInClose, Fn::HeapFree, Fn::HeapFree}},
        StartFailure{
            "Start",
            Fn::midiInStart,
            1,
            {Fn::HeapAlloc, Fn::HeapAlloc, Fn::midiInOpen, Fn::midiInReset, Fn::midiInPrepareHeader,
             Fn::midiInAddBuffer, Fn::midiInStart, Fn::midiInReset, Fn::midiInUnprepareHeader,
             Fn::midiInClose, Fn::HeapFree, Fn::HeapFree}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MidiInPortTest, FailedStartKeepsABufferTheDeviceStillHolds) {
    fake.FailCall(Fn::midiInStart, 1);
    fake.FailCall(Fn::midiInReset, 2);

    EXPECT_EQ(port->Start(), 0);

    EXPECT_EQ(fake.CountOf(Fn::HeapFree), 0);
    EXPECT_EQ(fake.QueuedInputBuffers(), 1);
    EXPECT_EQ(fake.LiveHeapBlocks(), 2);
    EXPECT_FALSE(port->IsStarted());
}

TEST_F(MidiInPortTest, CloseAfterAFailedOpenMakesNoPlatformCall) {
    fake.Fail(Fn::midiInOpen);
    ASSERT_EQ(port->Start(), 0);
    fake.ClearCalls();
    EXPECT_EQ(port->Close(), 0);
    EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(MidiInPortTest, CloseOnANeverOpenedPortMakesNoPlatformCall) {
    EXPECT_EQ(port->Close(), 0);
    EXPECT_EQ(port->Stop(), 0);
    EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(MidiInPortTest, StopHandsTheBufferBackThenFreesIt) {
    StartPort();
    MIDIHDR* header = fake.OldestQueuedInputBuffer();
    const auto data = Addr(header->lpData);

    EXPECT_EQ(port->Stop(), 0);

    EXPECT_THAT(fake.Sequence(),
                ElementsAre(Fn::midiInStop, Fn::midiInReset, Fn::midiInUnprepareHeader,
                            Fn::midiInClose, Fn::HeapFree, Fn::HeapFree));
    const auto calls = fake.Calls();
    EXPECT_EQ(calls[2].args[2], kHeaderSize);
    EXPECT_THAT(calls[4].args, ElementsAre(data));
    EXPECT_THAT(calls[5].args, ElementsAre(Addr(header)));
    EXPECT_EQ(fake.LiveHeapBlocks(), 0);
    EXPECT_FALSE(fake.InputOpen());
    EXPECT_FALSE(port->IsStarted());
    EXPECT_EQ(port->PeekSysEx(), nullptr);
}

struct StopFailure {
    const char* name;
    Fn fn;
    std::vector<Fn> calls;
    bool bufferFreed;
};

class MidiInPortStopFailure : public MidiInPortTest,
                              public testing::WithParamInterface<StopFailure> {};

TEST_P(MidiInPortStopFailure, SkipsTheLaterStepsAndFreesOnlyAHandedBackBuffer) {
    const auto& c = GetParam();
    StartPort();
    fake.Fail(c.fn);

    EXPECT_EQ(port->Stop(), 0);

    EXPECT_THAT(fake.Sequence(), ElementsAreArray(c.calls));
    EXPECT_FALSE(port->IsStarted());
    EXPECT_EQ(fake.LiveHeapBlocks(), c.bufferFreed ? 0 : 2);
    EXPECT_EQ(fake.BadHeapFrees(), 0);
    // Stopped is stopped: a second Stop does nothing.
    fake.ClearCalls();
    EXPECT_EQ(port->Stop(), 0);
    EXPECT_TRUE(fake.Calls().empty());
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, MidiInPortStopFailure,
    testing::Values(StopFailure{"Stop", Fn::midiInStop, {Fn::midiInStop}, false},
                    StopFailure{"Reset", Fn::midiInReset, {Fn::midiInStop, Fn::midiInReset}, false},
                    StopFailure{"Unprepare",
                                Fn::midiInUnprepareHeader,
                                {Fn::midiInStop, Fn::midiInReset, Fn::midiInUnprepareHeader},
                                false},
                    StopFailure{"Close",
                                Fn::midiInClose,
                                {Fn::midiInStop, Fn::midiInReset, Fn::midiInUnprepareHeader,
                                 Fn::midiInClose, Fn::HeapFree, Fn::HeapFree},
                                true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(MidiInPortTest, StopKeepsThePartOfAMessageThatStopHandsBack) {
    StartPort();
    fake.HandBackOnStop({0xF0, 0x52, 0x00});

    port->Stop();

    EXPECT_THAT(
        fake.Sequence(),
        ElementsAre(Fn::midiInStop, Fn::midiInPrepareHeader, Fn::midiInAddBuffer, Fn::midiInReset,
                    Fn::midiInUnprepareHeader, Fn::midiInClose, Fn::HeapFree, Fn::HeapFree));
    EXPECT_EQ(fake.LiveHeapBlocks(), 0);
    EXPECT_THAT(PeekCopy(), ElementsAre(0xF0, 0x52, 0x00));
}

TEST_F(MidiInPortTest, CloseStopsAStartedPortAndStillReportsAnOpenedOne) {
    StartPort();
    EXPECT_EQ(port->Close(), 1);
    EXPECT_FALSE(fake.InputOpen());
    EXPECT_EQ(fake.LiveHeapBlocks(), 0);

    fake.ClearCalls();
    EXPECT_EQ(port->Close(), 1);
    EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(MidiInPortTest, StartAfterStopOpensTheNewDeviceIndex) {
    StartPort();
    port->Stop();
    port->m_deviceIndex = 1;
    fake.ClearCalls();

    ASSERT_EQ(port->Start(), 1);

    EXPECT_EQ(fake.LastArgs(Fn::midiInOpen)[1], 1u);
    EXPECT_EQ(fake.LiveHeapBlocks(), 2);
}

TEST_F(MidiInPortTest, TwoSysExMessagesArriveAsExactCopiesInOrder) {
    StartPort();
    const Bytes first = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x58, 0x00,
                         0x00, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7};
    const Bytes second = {0xF0, 0x52, 0x00, 0x58, 0x00, 0x00, 0xF7};

    ASSERT_TRUE(fake.DeliverSysEx(first));
    ASSERT_TRUE(fake.DeliverSysEx(second));

    // Each hand-back queues the one buffer again.
    EXPECT_THAT(fake.Sequence(), ElementsAre(Fn::midiInPrepareHeader, Fn::midiInAddBuffer,
                                             Fn::midiInPrepareHeader, Fn::midiInAddBuffer));
    EXPECT_EQ(fake.QueuedInputBuffers(), 1);

    EXPECT_EQ(PeekCopy(), first);
    EXPECT_EQ(port->PeekSysEx(), port->PeekSysEx());
    port->PopSysEx();
    EXPECT_EQ(PeekCopy(), second);
    port->PopSysEx();
    EXPECT_EQ(port->PeekSysEx(), nullptr);
}

TEST_F(MidiInPortTest, EmptyQueuePeeksNullAndPopChangesNothing) {
    DWORD length = 99;
    EXPECT_EQ(port->PeekSysEx(&length), nullptr);
    EXPECT_EQ(length, 0u);
    port->PopSysEx();
    EXPECT_EQ(port->PeekSysEx(), nullptr);

    StartPort();
    ASSERT_TRUE(fake.DeliverSysEx({0xF0, 0x01, 0xF7}));
    port->PopSysEx();
    port->PopSysEx();
    EXPECT_EQ(port->PeekSysEx(), nullptr);
    ASSERT_TRUE(fake.DeliverSysEx({0xF0, 0x02, 0xF7}));
    EXPECT_THAT(PeekCopy(), ElementsAre(0xF0, 0x02, 0xF7));
}

struct HandBack {
    const char* name;
    DWORD flags;
    DWORD bytesRecorded;
};

class MidiInPortHandBack : public MidiInPortTest, public testing::WithParamInterface<HandBack> {};

TEST_P(MidiInPortHandBack, AddsNoCopyAndDoesNotQueueTheBufferAgain) {
    StartPort();
    char data[8] = {'\xF0', 0x01, '\xF7'};
    MIDIHDR header{};
    header.lpData = data;
    header.dwBufferLength = sizeof(data);
    header.dwFlags = GetParam().flags;
    header.dwBytesRecorded = GetParam().bytesRecorded;

    fake.Deliver(MIM_LONGDATA, Addr(&header));

    EXPECT_EQ(port->PeekSysEx(), nullptr);
    EXPECT_TRUE(fake.Calls().empty());
}

INSTANTIATE_TEST_SUITE_P(Ignored, MidiInPortHandBack,
                         testing::Values(HandBack{"NotDone", MHDR_PREPARED, 3},
                                         HandBack{"Empty", MHDR_DONE | MHDR_PREPARED, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(MidiInPortTest, AfterALongErrorNoSysExArrivesUntilRestarted) {
    StartPort();
    ASSERT_TRUE(fake.DeliverLongError({0xF0, 0x52}));

    EXPECT_EQ(port->PeekSysEx(), nullptr);
    EXPECT_TRUE(fake.Calls().empty());
    EXPECT_FALSE(fake.DeliverSysEx({0xF0, 0x01, 0xF7}));

    port->Stop();
    EXPECT_EQ(fake.LiveHeapBlocks(), 0);
    ASSERT_EQ(port->Start(), 1);
    EXPECT_TRUE(fake.DeliverSysEx({0xF0, 0x01, 0xF7}));
    EXPECT_THAT(PeekCopy(), ElementsAre(0xF0, 0x01, 0xF7));
}

TEST_F(MidiInPortTest, OtherInputMessagesChangeNothing) {
    StartPort();
    for (UINT message : {MIM_OPEN, MIM_CLOSE, MIM_ERROR}) {
        fake.Deliver(message, 0x123456);
    }
    EXPECT_EQ(port->RingWriteIndex(), 0);
    EXPECT_EQ(port->PeekSysEx(), nullptr);
    EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(MidiInPortTest, ShortMessagesFillTheRingWithLengthThree) {
    StartPort();
    fake.DeliverShort(0xF8);      // a real-time byte
    fake.DeliverShort(0x7F3C90);  // note on

    EXPECT_THAT(std::vector<BYTE>(port->RingSlot(0), port->RingSlot(0) + 4),
                ElementsAre(3, 0xF8, 0x00, 0x00));
    EXPECT_THAT(std::vector<BYTE>(port->RingSlot(1), port->RingSlot(1) + 4),
                ElementsAre(3, 0x90, 0x3C, 0x7F));
    EXPECT_EQ(port->RingWriteIndex(), 2);
    EXPECT_EQ(port->PeekSysEx(), nullptr);
    EXPECT_TRUE(fake.Calls().empty());
}

TEST_F(MidiInPortTest, TheThirtyThirdShortMessageOverwritesTheFirstSlot) {
    StartPort();
    for (DWORD i = 0; i < 32; ++i) {
        fake.DeliverShort(0x000090 | (i << 8));
    }
    EXPECT_EQ(port->RingWriteIndex(), 0);

    fake.DeliverShort(0x7F7F80);

    EXPECT_THAT(std::vector<BYTE>(port->RingSlot(0), port->RingSlot(0) + 4),
                ElementsAre(3, 0x80, 0x7F, 0x7F));
    EXPECT_THAT(std::vector<BYTE>(port->RingSlot(1), port->RingSlot(1) + 4),
                ElementsAre(3, 0x90, 0x01, 0x00));
    EXPECT_EQ(port->RingWriteIndex(), 1);
}

TEST_F(MidiInPortTest, DestroyingThePortFreesEveryCopyAndTheBuffer) {
    const long before = g_liveArrays.load();
    StartPort();
    for (BYTE i = 0; i < 3; ++i) {
        ASSERT_TRUE(fake.DeliverSysEx({0xF0, i, 0xF7}));
    }
    EXPECT_EQ(g_liveArrays.load(), before + 3);

    port.reset();

    EXPECT_EQ(g_liveArrays.load(), before);
    EXPECT_EQ(fake.LiveHeapBlocks(), 0);
    EXPECT_FALSE(fake.InputOpen());
}

TEST_F(MidiInPortTest, DeviceNamesComeFromTheCapabilities) {
    char name[40];
    std::memset(name, '?', sizeof(name));
    port->GetDeviceName(1, name);
    EXPECT_STREQ(name, "Fake In B");
    EXPECT_THAT(fake.LastArgs(Fn::midiInGetDevCapsA), ElementsAre(1, testing::_, 44));

    port->GetDeviceName(7, name);
    EXPECT_STREQ(name, "");

    fake.SetInputDevices({"A", "B", "C", "D"});
    EXPECT_EQ(port->GetDeviceCount(), 4);
}

// The platform's input thread appends while the timer's thread peeks and pops.
TEST_F(MidiInPortTest, QueueKeepsOrderAndContentAcrossThreads) {
    constexpr int kMessages = 2000;
    auto message = [](int i) {
        Bytes bytes = {0xF0, static_cast<BYTE>(i & 0x7F), static_cast<BYTE>((i >> 7) & 0x7F)};
        bytes.resize(3 + i % 40, static_cast<BYTE>(i % 0x7F));
        bytes.push_back(0xF7);
        return bytes;
    };
    StartPort();

    std::atomic<bool> delivered{true};
    std::thread input([&] {
        for (int i = 0; i < kMessages; ++i) {
            if (!fake.DeliverSysEx(message(i))) {
                delivered = false;
                return;
            }
        }
    });

    int received = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (received < kMessages && std::chrono::steady_clock::now() < deadline) {
        DWORD length = 0;
        const BYTE* copy = port->PeekSysEx(&length);
        if (copy == nullptr) {
            if (!delivered) {
                break;
            }
            std::this_thread::yield();
            continue;
        }
        if (Bytes(copy, copy + length) != message(received)) {
            ADD_FAILURE() << "message " << received << " arrived changed or out of order";
            break;
        }
        port->PopSysEx();
        ++received;
    }
    input.join();

    EXPECT_TRUE(delivered);
    EXPECT_EQ(received, kMessages);
    EXPECT_EQ(port->PeekSysEx(), nullptr);
}

}  // namespace
