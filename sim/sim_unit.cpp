#include "sim/sim_unit.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "protocol/crc32.h"
#include "protocol/messages.h"
#include "protocol/septets.h"

namespace sim {

namespace {

constexpr std::uint8_t kUnknownCommandByte = 0x40;
// Longer than the 8,192-byte receive buffer of the host's input port.
constexpr std::size_t kOversizeLength = 9000;
constexpr std::uint8_t kErased = 0xFF;

class CRealClock : public Clock {
  public:
    void Pause(std::chrono::milliseconds delay, std::stop_token stop) override {
        std::mutex lock;
        std::condition_variable_any wake;
        std::unique_lock held(lock);
        wake.wait_for(held, stop, delay, [] { return false; });
    }
};

bool IsSeptets(const std::uint8_t* begin, const std::uint8_t* end) {
    return std::all_of(begin, end, [](std::uint8_t b) { return (b & 0x80) == 0; });
}

const RowFault* FindFault(const std::vector<RowFault>& list, std::int32_t index) {
    for (const RowFault& fault : list) {
        if (fault.index == index) return &fault;
    }
    return nullptr;
}

std::int32_t FaultCount(const std::vector<RowFault>& list, std::int32_t index) {
    const RowFault* fault = FindFault(list, index);
    return fault ? fault->value : 0;
}

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

}  // namespace

Clock& RealClock() {
    static CRealClock clock;
    return clock;
}

std::string_view KindName(Kind kind) {
    switch (kind) {
        case Kind::kIdentityRequest:
            return "identity-request";
        case Kind::kIdentityReply:
            return "identity-reply";
        case Kind::kStatus:
            return "status";
        case Kind::kBeginUpdate:
            return "begin-update";
        case Kind::kEraseRange:
            return "erase-range";
        case Kind::kWriteBlock:
            return "write-block";
        case Kind::kEndUpdate:
            return "end-update";
        case Kind::kUnknownCommand:
            return "unknown-command";
        case Kind::kOtherModel:
            return "other-model";
        case Kind::kOther:
            return "other";
        case Kind::kMalformed:
            return "malformed";
    }
    return "?";
}

CSimUnit::CSimUnit(Link& link, Options options)
    : m_link(link),
      m_clock(options.clock ? *options.clock : RealClock()),
      m_faults(std::move(options.faults)),
      m_family(m_faults.family.value_or(options.family)),
      m_onEndUpdate(std::move(options.onEndUpdate)),
      m_flash(kFlashSize, kUnwrittenFlashByte) {
    m_worker = std::jthread([this](std::stop_token stop) { Serve(stop); });
}

CSimUnit::~CSimUnit() {
    Stop();
}

void CSimUnit::Stop() {
    {
        std::lock_guard held(m_inboxLock);
        m_stopped = true;
        m_inbox.clear();
    }
    m_worker.request_stop();
    if (m_worker.joinable() && m_worker.get_id() != std::this_thread::get_id()) m_worker.join();
    std::lock_guard held(m_inboxLock);
    m_handling = false;
    m_progress.notify_all();
}

void CSimUnit::HandleFromHost(const std::uint8_t* data, std::size_t length) {
    std::lock_guard held(m_inboxLock);
    if (m_stopped) return;
    m_inbox.emplace_back(data, data + length);
    m_inboxReady.notify_one();
}

bool CSimUnit::WaitIdle(std::chrono::milliseconds deadline) {
    std::unique_lock held(m_inboxLock);
    return m_progress.wait_for(held, deadline,
                               [this] { return m_stopped || (m_inbox.empty() && !m_handling); });
}

bool CSimUnit::WaitFor(const std::function<bool(const Record&)>& done,
                       std::chrono::milliseconds deadline) {
    std::unique_lock held(m_inboxLock);
    return m_progress.wait_for(held, deadline, [&] { return done(GetRecord()); });
}

void CSimUnit::Serve(std::stop_token stop) {
    for (;;) {
        Bytes message;
        {
            std::unique_lock held(m_inboxLock);
            if (!m_inboxReady.wait(held, stop, [this] { return !m_inbox.empty(); })) return;
            message = std::move(m_inbox.front());
            m_inbox.pop_front();
            m_handling = true;
        }
        Handle(message, stop);
        std::lock_guard held(m_inboxLock);
        m_handling = false;
        m_progress.notify_all();
    }
}

void CSimUnit::Handle(const Bytes& message, std::stop_token stop) {
    Outgoing out;
    {
        std::lock_guard held(m_stateLock);
        out = Respond(message);
    }
    // The record may already satisfy a waiter, long before a delayed answer goes out.
    { std::lock_guard held(m_inboxLock); }
    m_progress.notify_all();
    for (const Bytes& extra : out.injected) m_link.SendToHost(extra.data(), extra.size());
    if (!out.answer) return;
    if (out.delay.count() > 0) {
        m_clock.Pause(out.delay, stop);
        if (stop.stop_requested()) return;
    }
    m_link.SendToHost(out.answer->data(), out.answer->size());
    if (out.endUpdate && m_onEndUpdate) m_onEndUpdate();
}

CSimUnit::Outgoing CSimUnit::Respond(const Bytes& message) {
    Outgoing out;
    const bool framed = message.size() >= 5 && message.front() == rx::kSysExStart &&
                        message.back() == rx::kSysExEnd;
    if (!framed) {
        ++m_record.received[static_cast<std::size_t>(Kind::kMalformed)];
        return out;
    }
    if (message[1] == rx::kUniversalNonRealTime) {
        HandleUniversal(message, out);
    } else if (message[1] == rx::kManufacturerId && message.size() >= 6) {
        HandleManufacturer(message, out);
    } else {
        const Kind kind = message[1] == rx::kManufacturerId ? Kind::kMalformed : Kind::kOther;
        ++m_record.received[static_cast<std::size_t>(kind)];
    }
    return out;
}

void CSimUnit::HandleUniversal(const Bytes& message, Outgoing& out) {
    const bool general = message[3] == rx::kGeneralInformation;
    if (general && message[4] == 0x01) {
        StartUpdate();
        ++m_record.received[static_cast<std::size_t>(Kind::kIdentityRequest)];
        if (!Arrive({Stage::kIdentity}, out)) {
            ++m_record.unanswered;
            return;
        }
        Bytes reply(std::begin(rx::kIdentityReplyTemplate), std::end(rx::kIdentityReplyTemplate));
        reply[6] = m_family;
        out.answer = std::move(reply);
        return;
    }
    if (general && message[4] == 0x02 && message.size() >= 8) {
        ++m_record.received[static_cast<std::size_t>(Kind::kIdentityReply)];
        m_record.hostIdentityFamily = message[6];
        return;
    }
    ++m_record.received[static_cast<std::size_t>(Kind::kOther)];
}

void CSimUnit::HandleManufacturer(const Bytes& message, Outgoing& out) {
    const std::uint8_t model = message[3];
    ++m_record.modelBytes[model];
    if (model != m_family) {
        ++m_record.received[static_cast<std::size_t>(Kind::kOtherModel)];
        return;
    }
    switch (message[4]) {
        case rx::kCmdStatus:
            if (message.size() < 7) {
                ++m_record.received[static_cast<std::size_t>(Kind::kMalformed)];
                return;
            }
            ++m_record.received[static_cast<std::size_t>(Kind::kStatus)];
            m_record.hostStatusCodes.push_back(message[5]);
            return;
        case rx::kCmdBeginUpdate: {
            ++m_record.received[static_cast<std::size_t>(Kind::kBeginUpdate)];
            const bool first = !m_begun;
            m_begun = true;
            if (m_silent || (first && !Arrive({Stage::kBegin}, out))) {
                ++m_record.unanswered;
                return;
            }
            const std::uint8_t code =
                m_faults.notUpdateMode
                    ? std::uint8_t{rx::kStatusNotInUpdateMode}
                    : m_faults.beginStatus.value_or(std::uint8_t{rx::kStatusAccepted});
            m_updating = code == rx::kStatusAccepted;
            out.answer = Status(code);
            return;
        }
        case rx::kCmdWriteBlock:
            ++m_record.received[static_cast<std::size_t>(Kind::kWriteBlock)];
            HandleWriteBlock(message, out);
            return;
        case rx::kCmdEndUpdate: {
            ++m_record.received[static_cast<std::size_t>(Kind::kEndUpdate)];
            ++m_record.endUpdates;
            const bool first = !m_ended;
            m_ended = true;
            m_updating = false;
            if (m_silent || (first && !Arrive({Stage::kEnd}, out))) {
                ++m_record.unanswered;
                return;
            }
            out.answer = Status(m_faults.endStatus.value_or(0));
            out.endUpdate = true;
            return;
        }
        case rx::kCmdEraseRange:
            ++m_record.received[static_cast<std::size_t>(Kind::kEraseRange)];
            HandleEraseRange(message, out);
            return;
        default:
            ++m_record.received[static_cast<std::size_t>(Kind::kUnknownCommand)];
            if (m_silent) {
                ++m_record.unanswered;
                return;
            }
            out.answer = Status(rx::kStatusNotRecognised);
            return;
    }
}

void CSimUnit::HandleEraseRange(const Bytes& message, Outgoing& out) {
    if (m_silent) {
        ++m_record.unanswered;
        return;
    }
    if (message.size() != sizeof(rx::kEraseRangeImage) ||
        !IsSeptets(message.data() + 5, message.data() + 15)) {
        out.answer = Status(rx::kStatusNotRecognised);
        return;
    }
    if (!m_updating) {
        out.answer = Status(rx::kStatusNotInUpdateMode);
        return;
    }
    const auto address = static_cast<std::int32_t>(Decode5(&message[5]));
    const auto size = static_cast<std::int32_t>(Decode5(&message[10]));

    const auto [entry, isNew] =
        m_rowNumbers.try_emplace(address, static_cast<std::int32_t>(m_record.eraseRows.size()));
    const std::int32_t row = entry->second;
    if (isNew) m_record.eraseRows.push_back({address, size, 0});
    const int sends = ++m_record.eraseRows[row].sends;
    if (sends > 1) ++m_record.eraseRetries;
    if (sends == 1 && !Arrive({Stage::kErase, row}, out)) {
        ++m_record.unanswered;
        return;
    }

    if (sends <= FaultCount(m_faults.eraseRefusals, row)) {
        out.answer = Status(rx::kStatusFlashWriteError);
        return;
    }
    if (address < 0 || size < 0 || size > kFlashSize - address) {
        out.answer = Status(rx::kStatusFlashWriteError);
        return;
    }
    std::fill_n(m_flash.begin() + address, size, kErased);
    out.answer = Status(rx::kStatusAccepted);
}

// The status a well-formed block earns: 8 when the length field, the packing or the CRC does not
// match what the message carries. Fills `data` with the unpacked bytes when it returns 0.
std::uint8_t CSimUnit::CheckWriteBlock(const Bytes& message, Bytes& data) const {
    constexpr std::size_t kFrame = 18;
    if (message.size() < kFrame || !IsSeptets(message.data() + 5, &message.back())) {
        return rx::kStatusCrcError;
    }
    const std::int32_t length = message[10] | (message[11] << 7);
    const auto packed = static_cast<std::int32_t>(message.size() - kFrame);
    if (packed != PackedLength(length)) return rx::kStatusCrcError;
    // A short last group uses the high bits of its first byte only.
    const std::int32_t tail = length % 7;
    if (tail != 0 && (message[12 + 8 * (length / 7)] & ((1 << (7 - tail)) - 1)) != 0) {
        return rx::kStatusCrcError;
    }
    const std::uint8_t* crc = &message[12 + packed];
    // The fifth septet of a 32-bit value carries bits 28 to 31 only.
    if (crc[4] > 0x0F) return rx::kStatusCrcError;
    data.assign(length, 0);
    if (UnpackSeptets(data.data(), &message[12], packed) != length) return rx::kStatusCrcError;
    if (Crc32(data.data(), static_cast<std::uint32_t>(length)) != Decode5(crc)) {
        return rx::kStatusCrcError;
    }
    return rx::kStatusAccepted;
}

void CSimUnit::HandleWriteBlock(const Bytes& message, Outgoing& out) {
    if (m_silent) {
        ++m_record.unanswered;
        return;
    }
    if (!m_updating) {
        out.answer = Status(rx::kStatusNotInUpdateMode);
        return;
    }
    if (message.size() < 12 || !IsSeptets(message.data() + 5, message.data() + 12)) {
        ++m_record.crcErrors;
        out.answer = Status(rx::kStatusCrcError);
        return;
    }
    const auto address = static_cast<std::int32_t>(Decode5(&message[5]));
    const std::int32_t declared = message[10] | (message[11] << 7);

    const auto [entry, isNew] =
        m_blockNumbers.try_emplace(address, static_cast<std::int32_t>(m_record.blocks.size()));
    const std::int32_t block = entry->second;
    if (isNew) m_record.blocks.push_back({address, declared, 0});
    const int sends = ++m_record.blocks[block].sends;
    if (sends > 1) ++m_record.blockRetries;
    if (sends == 1 && !Arrive({Stage::kWrite, block}, out)) {
        ++m_record.unanswered;
        return;
    }

    // For one block the faults take its sends in this order: lost, then CRC, then flash errors.
    const std::int32_t dropped = FaultCount(m_faults.drops, block);
    const std::int32_t crcFailed = dropped + FaultCount(m_faults.crcErrors, block);
    const std::int32_t flashFailed = crcFailed + FaultCount(m_faults.flashErrors, block);
    if (sends <= dropped) {
        ++m_record.unanswered;
        return;
    }
    if (sends == 1) {
        if (const RowFault* late = FindFault(m_faults.lateAcks, block)) {
            out.delay = std::chrono::milliseconds(late->value);
        }
    }
    std::uint8_t code = sends <= crcFailed     ? rx::kStatusCrcError
                        : sends <= flashFailed ? rx::kStatusFlashWriteError
                                               : rx::kStatusAccepted;
    Bytes data;
    if (code == rx::kStatusAccepted) code = CheckWriteBlock(message, data);
    if (code == rx::kStatusAccepted) {
        const auto length = static_cast<std::int32_t>(data.size());
        if (address < 0 || length > kFlashSize - address) {
            code = rx::kStatusFlashWriteError;
        } else {
            const auto target = m_flash.begin() + address;
            const bool erased =
                std::all_of(target, target + length, [](std::uint8_t b) { return b == kErased; });
            // A block sent again after a lost or late answer finds itself already written.
            const bool rewritten = sends > 1 && std::equal(data.begin(), data.end(), target);
            if (erased) {
                std::copy(data.begin(), data.end(), target);
            } else if (!rewritten) {
                code = rx::kStatusFlashWriteError;
            }
        }
    }
    if (code == rx::kStatusCrcError) ++m_record.crcErrors;
    if (code == rx::kStatusFlashWriteError) ++m_record.flashErrors;
    out.answer = Status(code);
}

bool CSimUnit::Arrive(const Moment& moment, Outgoing& out) {
    if (m_faults.silentFrom && *m_faults.silentFrom == moment) m_silent = true;
    if (m_silent) return false;
    for (const Inject& inject : m_faults.injections) {
        if (inject.moment == moment) out.injected.push_back(Injected(inject.message));
    }
    return true;
}

void CSimUnit::StartUpdate() {
    ++m_record.updates;
    m_silent = false;
    m_updating = false;
    m_begun = false;
    m_ended = false;
    m_blockNumbers.clear();
    m_rowNumbers.clear();
    m_record.blocks.clear();
    m_record.eraseRows.clear();
}

CSimUnit::Bytes CSimUnit::Status(std::uint8_t code) const {
    Bytes message(sizeof(rx::kStatusImage));
    rx::BuildStatus(message.data(), m_family, code);
    return message;
}

CSimUnit::Bytes CSimUnit::Injected(Injection message) const {
    Bytes bytes(64);
    switch (message) {
        case Injection::kIdentityRequest:
            return Bytes(std::begin(rx::kIdentityRequestImage),
                         std::end(rx::kIdentityRequestImage));
        case Injection::kBeginUpdate:
            bytes.resize(rx::BuildBeginUpdate(bytes.data(), m_family));
            return bytes;
        case Injection::kEndUpdate:
            bytes.resize(rx::BuildEndUpdate(bytes.data(), m_family));
            return bytes;
        case Injection::kUnknownCommand:
            return {rx::kSysExStart, rx::kManufacturerId, 0x00,
                    m_family,        kUnknownCommandByte, rx::kSysExEnd};
        case Injection::kWrongModel:
            // An acknowledgement for the other accepted family: only a host that checks the
            // model byte leaves it alone.
            bytes.resize(
                rx::BuildStatus(bytes.data(), m_family == 0x57 ? 0x58 : 0x57, rx::kStatusAccepted));
            return bytes;
        case Injection::kTruncated:
            // A Status cut off after its command byte: no code, no F7.
            bytes.resize(rx::BuildStatus(bytes.data(), m_family, rx::kStatusAccepted) - 2);
            return bytes;
        case Injection::kOversize: {
            // Command 03, which the host neither answers nor takes for a reply.
            Bytes big(kOversizeLength, 0x00);
            const std::uint8_t head[] = {rx::kSysExStart, rx::kManufacturerId, 0x00, m_family,
                                         0x03};
            std::copy(std::begin(head), std::end(head), big.begin());
            big.back() = rx::kSysExEnd;
            return big;
        }
        case Injection::kNoF0:
            // An acknowledgement whose F0 is missing, as the tail of a split message arrives.
            bytes.resize(rx::BuildStatus(bytes.data(), m_family, rx::kStatusAccepted));
            bytes[0] = 0x00;
            return bytes;
    }
    return {};
}

Record CSimUnit::GetRecord() const {
    std::lock_guard held(m_stateLock);
    return m_record;
}

std::vector<std::uint8_t> CSimUnit::ReadFlash(std::int32_t address, std::int32_t length) const {
    if (address < 0 || length < 0 || length > kFlashSize - address) return {};
    std::lock_guard held(m_stateLock);
    return {m_flash.begin() + address, m_flash.begin() + address + length};
}

RegionVerdict CSimUnit::CheckRegion(const Region& region,
                                    std::span<const std::uint8_t> expected) const {
    RegionVerdict verdict;
    verdict.region = region;
    if (region.address < 0 || region.length < 0 || region.length > kFlashSize - region.address) {
        return verdict;
    }
    verdict.sizeMismatch = expected.size() != static_cast<std::size_t>(region.length);
    const std::size_t count = std::min(expected.size(), static_cast<std::size_t>(region.length));
    std::lock_guard held(m_stateLock);
    const auto start = m_flash.begin() + region.address;
    const auto [flashAt, imageAt] = std::mismatch(start, start + count, expected.begin());
    if (flashAt != start + count) {
        verdict.firstDifference = region.address + static_cast<std::int32_t>(flashAt - start);
    }
    verdict.equal = !verdict.sizeMismatch && verdict.firstDifference < 0;
    return verdict;
}

std::string CSimUnit::Summary(std::span<const std::span<const std::uint8_t>> images) const {
    const Record record = GetRecord();
    std::string text = "received:";
    bool any = false;
    for (std::size_t k = 0; k < kKindCount; ++k) {
        if (record.received[k] == 0) continue;
        text += std::string(any ? ", " : " ") + std::string(KindName(static_cast<Kind>(k))) + " " +
                std::to_string(record.received[k]);
        any = true;
    }
    if (!any) text += " nothing";
    text += "\nmodel bytes:";
    for (const auto& [model, count] : record.modelBytes) {
        text += " " + Hex(model, 2) + " (" + std::to_string(count) + ")";
    }
    if (record.modelBytes.empty()) text += " none";
    text += "\nretries: " + std::to_string(record.Retries()) + " (write blocks " +
            std::to_string(record.blockRetries) + ", erase rows " +
            std::to_string(record.eraseRetries) + ")";
    text += "\ncrc errors: " + std::to_string(record.crcErrors);
    text += "\nflash write errors: " + std::to_string(record.flashErrors);

    int verified = 0;
    bool differs = false;
    for (std::size_t i = 0; i < std::size(kRegions); ++i) {
        const Region& region = kRegions[i];
        text += "\nregion " + Hex(region.address, 6) + " +" + Hex(region.length, 6) + " (" +
                std::to_string(region.imageId) + "): ";
        if (i >= images.size() || images[i].empty()) {
            text += "not checked";
            continue;
        }
        const RegionVerdict verdict = CheckRegion(region, images[i]);
        if (verdict.equal) {
            text += "equal";
            ++verified;
        } else if (verdict.sizeMismatch) {
            text += "image is " + std::to_string(images[i].size()) + " bytes, region " +
                    std::to_string(region.length);
            differs = true;
        } else {
            text += "differs from " + Hex(verdict.firstDifference, 6);
            differs = true;
        }
    }
    text += differs                                             ? "\nflash: differs"
            : verified == static_cast<int>(std::size(kRegions)) ? "\nflash: verified"
                                                                : "\nflash: not checked";
    return text + "\n";
}

bool CSimUnit::DumpFlash(const std::string& folder, std::string* error) const {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) {
        *error = "cannot create " + folder + ": " + ec.message();
        return false;
    }
    auto write = [&](const std::string& name, std::int32_t address, std::int32_t length) {
        const fs::path path = fs::path(folder) / name;
        const std::vector<std::uint8_t> bytes = ReadFlash(address, length);
        std::ofstream file(path, std::ios::binary | std::ios::trunc);
        file.write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        file.close();
        if (!file) *error = "cannot write " + path.string();
        return static_cast<bool>(file);
    };
    if (!write("flash.bin", 0, kFlashSize)) return false;
    for (const Region& region : kRegions) {
        if (!write(std::to_string(region.imageId) + ".bin", region.address, region.length)) {
            return false;
        }
    }
    return true;
}

}  // namespace sim
