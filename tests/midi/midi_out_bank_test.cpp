#include "midi/midi_out_bank.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>

#include "tests/support/fake_mmsystem.h"

namespace {

using rxtest::Fn;

TEST(MidiOutBank, CountsTheDevicesOnceAndAssignsNoSlot) {
    rxtest::FakeMmSystem fake;
    rxtest::ScopedMmSystem installed(fake);
    fake.SetOutputDevices({"One", "Two"});
    std::optional<MidiOutBank> bank;

    bank.emplace();

    EXPECT_THAT(fake.Sequence(), testing::ElementsAre(Fn::midiOutGetNumDevs));
    EXPECT_EQ(bank->DeviceCount(), 2);
    for (int slot = 0; slot < MidiOutBank::kSlots; ++slot) {
        EXPECT_EQ(bank->SlotDevice(slot), -1) << slot;
    }

    fake.ClearCalls();
    bank.reset();
    EXPECT_TRUE(fake.Calls().empty());
}

}  // namespace
