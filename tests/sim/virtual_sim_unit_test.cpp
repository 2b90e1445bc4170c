#include "sim/virtual_sim_unit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>

#include "platform/virtual_backend.h"
#include "protocol/messages.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

constexpr auto kDeadline = 20s;

// The host's end of a virtual device pair, found by name as port discovery would.
class CHostEnd {
  public:
    explicit CHostEnd(const std::string& name) {
        platform::MidiBackend& backend = platform::VirtualBackend();
        for (const platform::PortRef& port : backend.WritablePorts()) {
            if (port.name == name) m_out = backend.OpenOutput(port.id);
        }
        for (const platform::PortRef& port : backend.ReadablePorts()) {
            if (port.name == name) m_in = backend.OpenInput(port.id);
        }
    }

    bool IsOpen() const { return m_in && m_out; }

    MMRESULT Send(const Bytes& message) { return m_out->Send(message.data(), message.size()); }

    // The next message from the unit; nullopt when none came within the deadline.
    std::optional<Bytes> Receive() {
        auto next = std::async(std::launch::async, [this] {
            Bytes message;
            return m_in->Next(message) ? std::optional<Bytes>(message) : std::nullopt;
        });
        if (next.wait_for(kDeadline) != std::future_status::ready) m_in->Interrupt();
        return next.get();
    }

  private:
    std::unique_ptr<platform::InputStream> m_in;
    std::unique_ptr<platform::OutputStream> m_out;
};

Bytes IdentityRequest() {
    return Bytes(std::begin(rx::kIdentityRequestImage), std::end(rx::kIdentityRequestImage));
}

TEST(VirtualSimUnit, HostFindsTheUnitByNameAndTalksToIt) {
    sim::Options options;
    options.family = 0x58;
    sim::CVirtualSimUnit unit(sim::kDefaultDeviceName, std::move(options));
    EXPECT_EQ(unit.Name(), "TAVO RX Series");
    CHostEnd host(unit.Name());
    ASSERT_TRUE(host.IsOpen());

    ASSERT_EQ(host.Send(IdentityRequest()), MMSYSERR_NOERROR);
    const std::optional<Bytes> reply = host.Receive();
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->size(), 15u);
    EXPECT_EQ((*reply)[6], 0x58);

    Bytes begin(6);
    rx::BuildBeginUpdate(begin.data(), 0x58);
    ASSERT_EQ(host.Send(begin), MMSYSERR_NOERROR);
    Bytes accepted(7);
    rx::BuildStatus(accepted.data(), 0x58, 0);
    EXPECT_EQ(host.Receive(), accepted);
    EXPECT_EQ(unit.Unit().GetRecord().Received(sim::Kind::kBeginUpdate), 1);
}

TEST(VirtualSimUnit, TwoUnitsUnderTheirOwnNamesAnswerOnlyTheirOwnHost) {
    sim::CVirtualSimUnit first("TAVO RX Series A");
    sim::Options options;
    options.family = 0x58;
    sim::CVirtualSimUnit second("TAVO RX Series B", std::move(options));
    CHostEnd a(first.Name());
    CHostEnd b(second.Name());
    ASSERT_TRUE(a.IsOpen() && b.IsOpen());
    ASSERT_EQ(b.Send(IdentityRequest()), MMSYSERR_NOERROR);
    ASSERT_EQ(a.Send(IdentityRequest()), MMSYSERR_NOERROR);
    const std::optional<Bytes> fromFirst = a.Receive();
    const std::optional<Bytes> fromSecond = b.Receive();
    ASSERT_TRUE(fromFirst && fromSecond);
    EXPECT_EQ(fromFirst->at(6), 0x57);
    EXPECT_EQ(fromSecond->at(6), 0x58);
    EXPECT_EQ(first.Unit().GetRecord().Received(sim::Kind::kIdentityRequest), 1);
    EXPECT_EQ(second.Unit().GetRecord().Received(sim::Kind::kIdentityRequest), 1);
}

TEST(VirtualSimUnit, GoesAwayCleanlyWhileTheHostKeepsSending) {
    const std::uint8_t data[2048] = {};
    Bytes block(18 + 2341);
    block.resize(rx::BuildWriteBlock(block.data(), 0x57, data, 0, 2048));
    Bytes begin(6), erase(16);
    rx::BuildBeginUpdate(begin.data(), 0x57);
    rx::BuildEraseRange(erase.data(), 0x57, 0, 0x1000);

    std::optional<CHostEnd> host;
    // Outlives the unit, so it sends while the unit goes away; ends once the pair refuses.
    std::jthread sender;
    {
        sim::Options options;
        // Holds the unit in a long delay that only its destruction cuts short.
        options.faults.lateAcks = {{0, 600000}};
        sim::CVirtualSimUnit unit("TAVO RX Series (late)", std::move(options));
        host.emplace(unit.Name());
        ASSERT_TRUE(host->IsOpen());
        ASSERT_EQ(host->Send(begin), MMSYSERR_NOERROR);
        ASSERT_EQ(host->Send(erase), MMSYSERR_NOERROR);
        ASSERT_EQ(host->Send(block), MMSYSERR_NOERROR);
        ASSERT_TRUE(unit.Unit().WaitFor(
            [](const sim::Record& r) { return r.Received(sim::Kind::kWriteBlock) == 1; },
            kDeadline));
        sender = std::jthread([&host, &block](std::stop_token stop) {
            for (int i = 0; i < 1000 && !stop.stop_requested(); ++i) {
                if (host->Send(block) != MMSYSERR_NOERROR) return;
            }
        });
    }
    // The pair is gone: the host's device refuses to send.
    EXPECT_NE(host->Send(IdentityRequest()), MMSYSERR_NOERROR);
    sender.join();
}

}  // namespace
