// CSimUnit: the RX-300 at the far end of the cable, with a 4 MiB flash that it really erases,
// writes and checks. It knows no transport: the host's messages come in through HandleFromHost,
// its own go out through a Link, so the same unit sits on an in-process virtual device pair or
// on a MIDI system's ports. Messages are handled on the unit's own thread in arrival order, which
// lets it answer late without ever holding up the host's send.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "sim/faults.h"

namespace sim {

constexpr std::int32_t kFlashSize = 0x400000;
constexpr std::uint8_t kDefaultFamily = 0x57;
// What the flash holds before the first erase: not erased, so a write that skips its erase fails.
constexpr std::uint8_t kUnwrittenFlashByte = 0x00;

// The three regions that an update erases and writes, with the image that belongs in each.
struct Region {
    std::int32_t address;
    std::int32_t length;
    int imageId;
};
constexpr Region kRegions[3] = {
    {0x0, 0x40000, 136},
    {0x3FD000, 0x3000, 133},
    {0x40000, 0xB0000, 129},
};

class Link {
  public:
    virtual ~Link() = default;
    virtual void SendToHost(const std::uint8_t* data, std::size_t length) = 0;
};

// The time base of the unit's deliberate delays. Tests put in one that they release by hand.
class Clock {
  public:
    virtual ~Clock() = default;
    // Returns after `delay`, or as soon as `stop` is requested.
    virtual void Pause(std::chrono::milliseconds delay, std::stop_token stop) = 0;
};
Clock& RealClock();

enum class Kind {
    kIdentityRequest,
    kIdentityReply,
    kStatus,
    kBeginUpdate,
    kEraseRange,
    kWriteBlock,
    kEndUpdate,
    kUnknownCommand,
    // A manufacturer message for another family: ignored, as a real unit would.
    kOtherModel,
    // Well-formed SysEx that is not for this unit (other manufacturer, other universal message).
    kOther,
    // Not starting with F0, not ending with F7, or too short to tell what it is.
    kMalformed,
};
constexpr std::size_t kKindCount = static_cast<std::size_t>(Kind::kMalformed) + 1;
std::string_view KindName(Kind kind);

// One block or erase row of the current update, by its number.
struct RowRecord {
    std::int32_t address = 0;
    std::int32_t size = 0;
    int sends = 0;
};

// What the unit has received and how it answered, since it started; `blocks` and `eraseRows`
// cover the current update only (numbered as the faults count them).
struct Record {
    std::array<std::int64_t, kKindCount> received{};
    // Offset 3 of every manufacturer message, with how often each value came.
    std::map<std::uint8_t, std::int64_t> modelBytes;
    std::int64_t blockRetries = 0;
    std::int64_t eraseRetries = 0;
    // Write Blocks answered 8 and 3.
    std::int64_t crcErrors = 0;
    std::int64_t flashErrors = 0;
    // Messages that a drop or silent fault left unanswered.
    std::int64_t unanswered = 0;
    std::int64_t updates = 0;
    std::int64_t endUpdates = 0;
    // Status codes and the Identity Reply family byte that the host sent.
    std::vector<std::uint8_t> hostStatusCodes;
    std::optional<std::uint8_t> hostIdentityFamily;
    std::vector<RowRecord> blocks;
    std::vector<RowRecord> eraseRows;

    std::int64_t Received(Kind kind) const { return received[static_cast<std::size_t>(kind)]; }
    std::int64_t Retries() const { return blockRetries + eraseRetries; }
};

struct RegionVerdict {
    Region region{};
    bool equal = false;
    // The image is not as long as the region.
    bool sizeMismatch = false;
    // Flash address of the first byte that differs; -1 when none does.
    std::int32_t firstDifference = -1;
};

struct Options {
    std::uint8_t family = kDefaultFamily;
    Faults faults;
    // RealClock() when null; must outlive the unit.
    Clock* clock = nullptr;
    // Called on the unit's thread after each End Update has been answered.
    std::function<void()> onEndUpdate;
};

class CSimUnit {
  public:
    // `link` must outlive the unit, which must not be destroyed from its own callback.
    explicit CSimUnit(Link& link, Options options = {});
    ~CSimUnit();
    CSimUnit(const CSimUnit&) = delete;
    CSimUnit& operator=(const CSimUnit&) = delete;

    // One complete message from the host. Callable from any thread; copies and returns at once.
    void HandleFromHost(const std::uint8_t* data, std::size_t length);

    // Ends the unit's thread, cutting short a delay; later messages are dropped. Idempotent;
    // from the unit's own callback it only asks the thread to end.
    void Stop();

    // True once every message handed in so far has been handled and answered, or the unit has
    // stopped.
    [[nodiscard]] bool WaitIdle(std::chrono::milliseconds deadline);
    // True once `done` holds for the record, checked as each message has been taken in (before
    // a delayed answer leaves) and after it has been answered.
    [[nodiscard]] bool WaitFor(const std::function<bool(const Record&)>& done,
                               std::chrono::milliseconds deadline);

    std::uint8_t Family() const { return m_family; }
    Record GetRecord() const;
    std::vector<std::uint8_t> ReadFlash(std::int32_t address, std::int32_t length) const;
    RegionVerdict CheckRegion(const Region& region, std::span<const std::uint8_t> expected) const;
    // `images` in the order of kRegions; a missing or empty one is reported as not checked.
    std::string Summary(std::span<const std::span<const std::uint8_t>> images = {}) const;
    // Writes flash.bin (all 4 MiB) and one file per region named after its image id.
    [[nodiscard]] bool DumpFlash(const std::string& folder, std::string* error) const;

  private:
    using Bytes = std::vector<std::uint8_t>;

    // What handling one message sends: extra messages first, then after `delay` the answer.
    struct Outgoing {
        std::vector<Bytes> injected;
        std::chrono::milliseconds delay{0};
        std::optional<Bytes> answer;
        bool endUpdate = false;
    };

    void Serve(std::stop_token stop);
    void Handle(const Bytes& message, std::stop_token stop);
    Outgoing Respond(const Bytes& message);
    void HandleUniversal(const Bytes& message, Outgoing& out);
    void HandleManufacturer(const Bytes& message, Outgoing& out);
    void HandleEraseRange(const Bytes& message, Outgoing& out);
    void HandleWriteBlock(const Bytes& message, Outgoing& out);
    std::uint8_t CheckWriteBlock(const Bytes& message, Bytes& data) const;
    // Called with the first send of a stage's message in an update; false when the unit is
    // silent from it on.
    bool Arrive(const Moment& moment, Outgoing& out);
    void StartUpdate();
    Bytes Status(std::uint8_t code) const;
    Bytes Injected(Injection message) const;

    Link& m_link;
    Clock& m_clock;
    const Faults m_faults;
    const std::uint8_t m_family;
    const std::function<void()> m_onEndUpdate;

    // Guards the flash and everything the unit records or tracks for the current update:
    // the unit's thread changes them while tests and the front ends read them.
    mutable std::mutex m_stateLock;
    std::vector<std::uint8_t> m_flash;
    Record m_record;
    bool m_silent = false;
    bool m_updating = false;
    bool m_begun = false;
    bool m_ended = false;
    std::map<std::int32_t, std::int32_t> m_blockNumbers;
    std::map<std::int32_t, std::int32_t> m_rowNumbers;

    // Guards the inbox and the idle state between the host's threads and the unit's thread.
    std::mutex m_inboxLock;
    std::condition_variable_any m_inboxReady;
    std::condition_variable m_progress;
    std::deque<Bytes> m_inbox;
    bool m_handling = false;
    bool m_stopped = false;

    std::jthread m_worker;
};

}  // namespace sim
