#include "sim/sim_unit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>

#include "protocol/messages.h"
#include "protocol/septets.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

// Generous: only a broken unit makes a test wait this long.
constexpr auto kDeadline = 20s;
constexpr std::int32_t kBlock = 2048;

class CRecordingLink : public sim::Link {
  public:
    void SendToHost(const std::uint8_t* data, std::size_t length) override {
        std::lock_guard held(m_lock);
        m_sent.emplace_back(data, data + length);
    }

    std::vector<Bytes> Sent() {
        std::lock_guard held(m_lock);
        return m_sent;
    }

  private:
    std::mutex m_lock;
    std::vector<Bytes> m_sent;
};

// Holds every delay until the test releases it, and tells the test what was asked for.
class CGatedClock : public sim::Clock {
  public:
    void Pause(std::chrono::milliseconds delay, std::stop_token stop) override {
        std::unique_lock held(m_lock);
        m_requested.push_back(delay);
        m_changed.notify_all();
        m_changed.wait(held, stop, [this] { return m_released > 0; });
        if (m_released > 0) --m_released;
    }

    bool WaitForPauses(std::size_t count) {
        std::unique_lock held(m_lock);
        return m_changed.wait_for(held, kDeadline, [&] { return m_requested.size() >= count; });
    }

    void Release() {
        std::lock_guard held(m_lock);
        ++m_released;
        m_changed.notify_all();
    }

    std::vector<std::chrono::milliseconds> Requested() {
        std::lock_guard held(m_lock);
        return m_requested;
    }

  private:
    std::mutex m_lock;
    std::condition_variable_any m_changed;
    std::vector<std::chrono::milliseconds> m_requested;
    int m_released = 0;
};

Bytes Status(std::uint8_t model, std::uint8_t code) {
    Bytes m(sizeof(rx::kStatusImage));
    rx::BuildStatus(m.data(), model, code);
    return m;
}

Bytes BeginUpdate(std::uint8_t model) {
    Bytes m(sizeof(rx::kBeginUpdateImage));
    rx::BuildBeginUpdate(m.data(), model);
    return m;
}

Bytes EndUpdate(std::uint8_t model) {
    Bytes m(sizeof(rx::kEndUpdateImage));
    rx::BuildEndUpdate(m.data(), model);
    return m;
}

Bytes EraseRange(std::uint8_t model, std::int32_t address, std::int32_t size) {
    Bytes m(sizeof(rx::kEraseRangeImage));
    rx::BuildEraseRange(m.data(), model, address, size);
    return m;
}

Bytes WriteBlock(std::uint8_t model, std::int32_t address, const Bytes& data) {
    const auto length = static_cast<std::int32_t>(data.size());
    Bytes m(18 + PackedLength(length));
    m.resize(rx::BuildWriteBlock(m.data(), model, data.data(), address, length));
    return m;
}

Bytes IdentityRequest() {
    return Bytes(std::begin(rx::kIdentityRequestImage), std::end(rx::kIdentityRequestImage));
}

// Bytes that show where they belong: a block put at the wrong place or left out is seen.
Bytes Pattern(std::int32_t address, std::int32_t length, std::uint8_t salt = 0) {
    Bytes data(length);
    for (std::int32_t i = 0; i < length; ++i) {
        const std::uint32_t at = static_cast<std::uint32_t>(address + i);
        data[i] = static_cast<std::uint8_t>((at * 2654435761u >> 13) ^ (at >> 11) ^ salt);
    }
    return data;
}

class SimUnitTest : public ::testing::Test {
  protected:
    void Start(sim::Options options = {}) {
        if (!options.clock) options.clock = &m_clock;
        m_unit.emplace(m_link, std::move(options));
        m_model = m_unit->Family();
    }

    void Start(const std::string& faults) {
        sim::Options options;
        std::string error;
        ASSERT_TRUE(sim::ParseFaults(faults, &options.faults, &error)) << error;
        Start(std::move(options));
    }

    void SetUp() override { Start(); }

    // Hands one message to the unit and returns everything it sent in answer.
    std::vector<Bytes> Exchange(const Bytes& message) {
        const std::size_t before = m_link.Sent().size();
        m_unit->HandleFromHost(message.data(), message.size());
        EXPECT_TRUE(m_unit->WaitIdle(kDeadline));
        const std::vector<Bytes> sent = m_link.Sent();
        return {sent.begin() + static_cast<std::ptrdiff_t>(before), sent.end()};
    }

    // The single answer to `message`; nullopt when the unit sent nothing.
    std::optional<Bytes> Answer(const Bytes& message) {
        const std::vector<Bytes> sent = Exchange(message);
        EXPECT_LE(sent.size(), 1u);
        if (sent.empty()) return std::nullopt;
        return sent.back();
    }

    // The status code of the single Status answer; -1 when there was none.
    int Code(const Bytes& message) {
        const std::optional<Bytes> answer = Answer(message);
        if (!answer) return -1;
        EXPECT_EQ(answer->size(), 7u);
        EXPECT_EQ((*answer)[3], m_model);
        return answer->size() == 7 ? (*answer)[5] : -2;
    }

    void BeginAndErase(std::int32_t address, std::int32_t size) {
        ASSERT_EQ(Code(BeginUpdate(m_model)), 0);
        ASSERT_EQ(Code(EraseRange(m_model, address, size)), 0);
    }

    CRecordingLink m_link;
    CGatedClock m_clock;
    std::optional<sim::CSimUnit> m_unit;
    std::uint8_t m_model = 0;
};

TEST_F(SimUnitTest, AnswersIdentityRequestWithItsFamily) {
    struct Case {
        std::uint8_t family;
        const char* faults;
        std::uint8_t expected;
    };
    const Case cases[] = {
        {0x57, "", 0x57},
        {0x58, "", 0x58},
        {0x57, "family=0x41", 0x41},
        {0x58, "family=0x57", 0x57},
    };
    for (const Case& c : cases) {
        sim::Options options;
        options.family = c.family;
        std::string error;
        ASSERT_TRUE(sim::ParseFaults(c.faults, &options.faults, &error));
        Start(std::move(options));
        Bytes expected(std::begin(rx::kIdentityReplyTemplate),
                       std::end(rx::kIdentityReplyTemplate));
        expected[6] = c.expected;
        EXPECT_EQ(Answer(IdentityRequest()), expected) << c.faults;
        // The all-call device ID is answered the same way.
        EXPECT_EQ(Answer({0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}), expected) << c.faults;
        EXPECT_EQ(m_unit->Family(), c.expected);
    }
}

TEST_F(SimUnitTest, ErasesWritesAndKeepsTheRestOfTheFlash) {
    const std::int32_t address = 0x3FD000;
    BeginAndErase(address, 0x3000);
    const Bytes erased = m_unit->ReadFlash(address, 0x3000);
    EXPECT_TRUE(std::all_of(erased.begin(), erased.end(), [](auto b) { return b == 0xFF; }));

    const Bytes first = Pattern(address, kBlock);
    const Bytes second = Pattern(address + kBlock, kBlock);
    EXPECT_EQ(Code(WriteBlock(m_model, address, first)), 0);
    EXPECT_EQ(Code(WriteBlock(m_model, address + kBlock, second)), 0);
    EXPECT_EQ(Code(EndUpdate(m_model)), 0);

    EXPECT_EQ(m_unit->ReadFlash(address, kBlock), first);
    EXPECT_EQ(m_unit->ReadFlash(address + kBlock, kBlock), second);
    const Bytes rest = m_unit->ReadFlash(address + 2 * kBlock, 0x3000 - 2 * kBlock);
    EXPECT_TRUE(std::all_of(rest.begin(), rest.end(), [](auto b) { return b == 0xFF; }));
    const Bytes below = m_unit->ReadFlash(address - 16, 16);
    EXPECT_TRUE(std::all_of(below.begin(), below.end(),
                            [](auto b) { return b == sim::kUnwrittenFlashByte; }));

    const sim::Record record = m_unit->GetRecord();
    EXPECT_EQ(record.Received(sim::Kind::kBeginUpdate), 1);
    EXPECT_EQ(record.Received(sim::Kind::kEraseRange), 1);
    EXPECT_EQ(record.Received(sim::Kind::kWriteBlock), 2);
    EXPECT_EQ(record.Received(sim::Kind::kEndUpdate), 1);
    EXPECT_EQ(record.Retries(), 0);
    EXPECT_EQ(record.modelBytes, (std::map<std::uint8_t, std::int64_t>{{0x57, 5}}));
    ASSERT_EQ(record.blocks.size(), 2u);
    EXPECT_EQ(record.blocks[1].address, address + kBlock);
    EXPECT_EQ(record.blocks[1].size, kBlock);
}

TEST_F(SimUnitTest, WritesBlocksOfAnyLengthUpToTheFieldLimit) {
    struct Case {
        std::int32_t length;
        std::int32_t address;
    };
    const Case cases[] = {{0, 0x1000},  {1, 0x1100},  {6, 0x1200},    {7, 0x1300},    {8, 0x1400},
                          {13, 0x1500}, {14, 0x1600}, {2047, 0x2000}, {16383, 0x8000}};
    BeginAndErase(0x1000, 0xC000);
    for (const auto [length, address] : cases) {
        const Bytes data = Pattern(address, length, 0x5A);
        EXPECT_EQ(Code(WriteBlock(m_model, address, data)), 0) << length;
        EXPECT_EQ(m_unit->ReadFlash(address, length), data) << length;
    }
}

TEST_F(SimUnitTest, BlockThatDoesNotMatchWhatItCarriesIsAnsweredCrcError) {
    struct Case {
        const char* what;
        void (*spoil)(Bytes& m);
    };
    // A 2,048-byte block: 292 full groups and a last group of 4 bytes at offset 12 + 2336.
    const Case cases[] = {
        {"length field one short",
         [](Bytes& m) {
             m[10] = 0x7F;
             m[11] = 0x0F;
         }},
        {"length field one long", [](Bytes& m) { m[10] = 0x01; }},
        {"a data byte with bit 7 set", [](Bytes& m) { m[12 + 100] |= 0x80; }},
        {"a high-bit byte with bit 7 set", [](Bytes& m) { m[12 + 8] |= 0x80; }},
        {"unused bit of the last group", [](Bytes& m) { m[12 + 2336] |= 0x01; }},
        {"one data bit flipped", [](Bytes& m) { m[12 + 1001] ^= 0x01; }},
        {"one high bit flipped", [](Bytes& m) { m[12 + 16] ^= 0x40; }},
        {"CRC off by one", [](Bytes& m) { m[12 + 2341] ^= 0x01; }},
        {"CRC with bits above 31", [](Bytes& m) { m[12 + 2341 + 4] |= 0x10; }},
        {"a packed byte missing", [](Bytes& m) { m.erase(m.begin() + 500); }},
        {"a packed byte too many", [](Bytes& m) { m.insert(m.begin() + 500, 0x00); }},
        {"cut to its header", [](Bytes& m) { m.erase(m.begin() + 12, m.end() - 1); }},
    };
    const std::int32_t address = 0x40000;
    BeginAndErase(address, 0x1000);
    int errors = 0;
    for (const Case& c : cases) {
        Bytes message = WriteBlock(m_model, address, Pattern(address, kBlock));
        ASSERT_EQ(message.size(), 2359u);
        c.spoil(message);
        EXPECT_EQ(Code(message), rx::kStatusCrcError) << c.what;
        ++errors;
        const Bytes flash = m_unit->ReadFlash(address, kBlock);
        EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](auto b) { return b == 0xFF; }))
            << c.what << " was written";
    }
    EXPECT_EQ(m_unit->GetRecord().crcErrors, errors);
    EXPECT_EQ(Code(WriteBlock(m_model, address, Pattern(address, kBlock))), 0);
}

TEST_F(SimUnitTest, WriteOnBytesNotErasedIsAnsweredFlashErrorAndNotWritten) {
    const std::int32_t address = 0x80000;
    ASSERT_EQ(Code(BeginUpdate(m_model)), 0);
    // Never erased: the flash still holds what was there before.
    EXPECT_EQ(Code(WriteBlock(m_model, address, Pattern(address, kBlock))), 3);
    EXPECT_EQ(m_unit->ReadFlash(address, kBlock), Bytes(kBlock, sim::kUnwrittenFlashByte));

    // Erased but for its last byte.
    ASSERT_EQ(Code(EraseRange(m_model, 0x90000, kBlock - 1)), 0);
    EXPECT_EQ(Code(WriteBlock(m_model, 0x90000, Pattern(0x90000, kBlock))), 3);

    // Written once, then other bytes over it.
    ASSERT_EQ(Code(EraseRange(m_model, 0xA0000, kBlock)), 0);
    const Bytes first = Pattern(0xA0000, kBlock);
    ASSERT_EQ(Code(WriteBlock(m_model, 0xA0000, first)), 0);
    EXPECT_EQ(Code(WriteBlock(m_model, 0xA0000, Pattern(0xA0000, kBlock, 1))), 3);
    EXPECT_EQ(m_unit->ReadFlash(0xA0000, kBlock), first);

    // Out of the flash altogether.
    EXPECT_EQ(Code(WriteBlock(m_model, sim::kFlashSize - 1024, Pattern(0, kBlock))), 3);
    EXPECT_EQ(Code(WriteBlock(m_model, -kBlock, Pattern(0, kBlock))), 3);
    EXPECT_EQ(m_unit->GetRecord().flashErrors, 5);
}

TEST_F(SimUnitTest, BlockSentAgainWithTheSameBytesIsAcknowledgedAsARetry) {
    const std::int32_t address = 0x0;
    BeginAndErase(address, 0x1000);
    const Bytes data = Pattern(address, kBlock);
    ASSERT_EQ(Code(WriteBlock(m_model, address, data)), 0);
    EXPECT_EQ(Code(WriteBlock(m_model, address, data)), 0);
    EXPECT_EQ(Code(EraseRange(m_model, address, 0x1000)), 0);

    const sim::Record record = m_unit->GetRecord();
    EXPECT_EQ(record.blockRetries, 1);
    EXPECT_EQ(record.eraseRetries, 1);
    ASSERT_EQ(record.blocks.size(), 1u);
    EXPECT_EQ(record.blocks[0].sends, 2);
    ASSERT_EQ(record.eraseRows.size(), 1u);
    EXPECT_EQ(record.eraseRows[0].sends, 2);
}

TEST_F(SimUnitTest, EraseAndWriteBeforeBeginUpdateAreRefusedNotInUpdateMode) {
    EXPECT_EQ(Code(EraseRange(m_model, 0, 0x1000)), rx::kStatusNotInUpdateMode);
    EXPECT_EQ(Code(WriteBlock(m_model, 0, Pattern(0, kBlock))), rx::kStatusNotInUpdateMode);
    BeginAndErase(0, 0x1000);
    ASSERT_EQ(Code(EndUpdate(m_model)), 0);
    EXPECT_EQ(Code(WriteBlock(m_model, 0, Pattern(0, kBlock))), rx::kStatusNotInUpdateMode);
    EXPECT_EQ(m_unit->ReadFlash(0, kBlock), Bytes(kBlock, 0xFF));
}

TEST_F(SimUnitTest, IgnoresManufacturerMessagesOfAnotherFamily) {
    EXPECT_FALSE(Answer(BeginUpdate(0x58)));
    EXPECT_FALSE(Answer(EraseRange(0x41, 0, 0x1000)));
    EXPECT_FALSE(Answer(EndUpdate(0x00)));
    EXPECT_EQ(Code(BeginUpdate(0x57)), 0);

    const sim::Record record = m_unit->GetRecord();
    EXPECT_EQ(record.Received(sim::Kind::kOtherModel), 3);
    EXPECT_EQ(record.Received(sim::Kind::kBeginUpdate), 1);
    EXPECT_EQ(record.modelBytes,
              (std::map<std::uint8_t, std::int64_t>{{0x00, 1}, {0x41, 1}, {0x57, 1}, {0x58, 1}}));
}

TEST_F(SimUnitTest, AnswersUnknownCommandsNotRecognisedAndLeavesTheRestUnanswered) {
    for (std::uint8_t command : {0x03, 0x05, 0x06, 0x0B, 0x7F}) {
        EXPECT_EQ(Code({0xF0, 0x52, 0x00, 0x57, command, 0xF7}), rx::kStatusNotRecognised)
            << int(command);
    }
    const Bytes silent[] = {
        {0x52, 0x00, 0x57, 0x01, 0xF7},        // no F0
        {0xF0, 0x52, 0x00, 0x57, 0x01},        // no F7
        {0xF0, 0x52, 0xF7},                    // too short
        {0xF0, 0x43, 0x00, 0x57, 0x01, 0xF7},  // another manufacturer
        {0xF0, 0x7E, 0x00, 0x06, 0x03, 0xF7},  // another universal message
        Status(0x57, 0),                       // the host acknowledging
    };
    for (const Bytes& message : silent) EXPECT_FALSE(Answer(message));

    const sim::Record record = m_unit->GetRecord();
    EXPECT_EQ(record.Received(sim::Kind::kUnknownCommand), 5);
    EXPECT_EQ(record.Received(sim::Kind::kMalformed), 3);
    EXPECT_EQ(record.Received(sim::Kind::kOther), 2);
    EXPECT_EQ(record.Received(sim::Kind::kStatus), 1);
}

TEST_F(SimUnitTest, RecordsWhatTheHostAnswers) {
    EXPECT_FALSE(Answer(Status(0x57, 0)));
    EXPECT_FALSE(Answer(Status(0x57, 1)));
    Bytes reply(std::begin(rx::kIdentityReplyTemplate), std::end(rx::kIdentityReplyTemplate));
    reply[6] = 0x58;
    EXPECT_FALSE(Answer(reply));

    const sim::Record record = m_unit->GetRecord();
    EXPECT_EQ(record.hostStatusCodes, (Bytes{0, 1}));
    EXPECT_EQ(record.hostIdentityFamily, 0x58);
    EXPECT_EQ(record.Received(sim::Kind::kIdentityReply), 1);
}

TEST_F(SimUnitTest, BeginAndEndUpdateAnswerTheConfiguredStatus) {
    struct Case {
        const char* faults;
        int begin;
        int end;
    };
    const Case cases[] = {
        {"", 0, 0},
        {"not-update-mode", rx::kStatusNotInUpdateMode, 0},
        {"begin-status=1", 1, 0},
        {"end-status=9", 0, 9},
    };
    for (const Case& c : cases) {
        Start(c.faults);
        EXPECT_EQ(Code(BeginUpdate(m_model)), c.begin) << c.faults;
        // A unit that refused Begin Update does not erase either.
        EXPECT_EQ(Code(EraseRange(m_model, 0, 0x1000)),
                  c.begin == 0 ? 0 : rx::kStatusNotInUpdateMode)
            << c.faults;
        EXPECT_EQ(Code(EndUpdate(m_model)), c.end) << c.faults;
    }
}

// The messages of a short update, with the stage at which each one arrives.
struct Step {
    const char* stage;
    Bytes message;
};

std::vector<Step> ShortUpdate(std::uint8_t model) {
    return {
        {"identity", IdentityRequest()},
        {"begin", BeginUpdate(model)},
        {"erase:0", EraseRange(model, 0x0, 0x2000)},
        {"erase:1", EraseRange(model, 0x10000, 0x1000)},
        {"write:0", WriteBlock(model, 0x0, Pattern(0x0, kBlock))},
        {"write:1", WriteBlock(model, kBlock, Pattern(kBlock, kBlock))},
        {"write:2", WriteBlock(model, 0x10000, Pattern(0x10000, kBlock))},
        {"end", EndUpdate(model)},
    };
}

TEST_F(SimUnitTest, SilentUnitAnswersNothingFromItsStageOn) {
    for (const char* stage : {"identity", "begin", "erase:1", "write:0", "write:2", "end"}) {
        Start(std::string("silent=") + stage);
        bool silent = false;
        for (const Step& step : ShortUpdate(m_model)) {
            silent = silent || std::string(stage) == step.stage;
            EXPECT_EQ(Exchange(step.message).size(), silent ? 0u : 1u)
                << "silent=" << stage << " at " << step.stage;
        }
        // Not even an unknown command gets an answer now.
        EXPECT_TRUE(Exchange({0xF0, 0x52, 0x00, m_model, 0x30, 0xF7}).empty()) << stage;
        EXPECT_GT(m_unit->GetRecord().unanswered, 0) << stage;
    }
}

TEST_F(SimUnitTest, BlockFaultsTakeTheirSendsInTurn) {
    struct Case {
        const char* faults;
        int block0;
        // Answers to the sends of block 1 in a row: -1 for none.
        std::vector<int> answers;
    };
    const Case cases[] = {
        {"", 0, {0}},
        {"drop=1:2", 0, {-1, -1, 0}},
        {"crc=1:2", 0, {8, 8, 0}},
        {"flash-error=1:3", 0, {3, 3, 3, 0}},
        {"drop=1:1,crc=1:1,flash-error=1:1", 0, {-1, 8, 3, 0}},
        {"crc=0:1,flash-error=2:6", 8, {0}},
    };
    for (const Case& c : cases) {
        Start(c.faults);
        BeginAndErase(0, 0x4000);
        EXPECT_EQ(Code(WriteBlock(m_model, 0, Pattern(0, kBlock))), c.block0) << c.faults;
        const Bytes block = Pattern(kBlock, kBlock);
        for (std::size_t send = 0; send < c.answers.size(); ++send) {
            EXPECT_NE(m_unit->ReadFlash(kBlock, kBlock), block)
                << c.faults << ": written before its acknowledged send";
            EXPECT_EQ(Code(WriteBlock(m_model, kBlock, block)), c.answers[send])
                << c.faults << " send " << send;
        }
        EXPECT_EQ(m_unit->ReadFlash(kBlock, kBlock), block) << c.faults;

        const sim::Record record = m_unit->GetRecord();
        const auto count = [&](int code) {
            return std::count(c.answers.begin(), c.answers.end(), code);
        };
        EXPECT_EQ(record.unanswered, count(-1)) << c.faults;
        EXPECT_EQ(record.crcErrors, count(8) + (c.block0 == 8)) << c.faults;
        EXPECT_EQ(record.flashErrors, count(3)) << c.faults;
        EXPECT_EQ(record.blockRetries, static_cast<std::int64_t>(c.answers.size()) - 1);
        ASSERT_EQ(record.blocks.size(), 2u);
        EXPECT_EQ(record.blocks[1].sends, static_cast<int>(c.answers.size()));
    }
}

TEST_F(SimUnitTest, RefusedEraseRowLeavesTheFlashAsItWas) {
    Start("erase-refuse=1:2");
    ASSERT_EQ(Code(BeginUpdate(m_model)), 0);
    EXPECT_EQ(Code(EraseRange(m_model, 0x0, 0x1000)), 0);
    EXPECT_EQ(Code(EraseRange(m_model, 0x3FD000, 0x3000)), 3);
    EXPECT_EQ(m_unit->ReadFlash(0x3FD000, 0x3000), Bytes(0x3000, sim::kUnwrittenFlashByte));
    EXPECT_EQ(Code(WriteBlock(m_model, 0x3FD000, Pattern(0x3FD000, kBlock))), 3);
    EXPECT_EQ(Code(EraseRange(m_model, 0x3FD000, 0x3000)), 3);
    EXPECT_EQ(Code(EraseRange(m_model, 0x3FD000, 0x3000)), 0);
    EXPECT_EQ(m_unit->ReadFlash(0x3FD000, 0x3000), Bytes(0x3000, 0xFF));
    EXPECT_EQ(m_unit->GetRecord().eraseRetries, 2);
}

TEST_F(SimUnitTest, EraseOutsideTheFlashOrMalformedIsRefused) {
    ASSERT_EQ(Code(BeginUpdate(m_model)), 0);
    EXPECT_EQ(Code(EraseRange(m_model, sim::kFlashSize - 0x1000, 0x2000)), 3);
    EXPECT_EQ(Code(EraseRange(m_model, -0x1000, 0x1000)), 3);
    EXPECT_EQ(Code(EraseRange(m_model, 0, -1)), 3);
    Bytes longer = EraseRange(m_model, 0, 0x1000);
    longer.insert(longer.begin() + 10, 0x00);
    EXPECT_EQ(Code(longer), rx::kStatusNotRecognised);
    EXPECT_EQ(m_unit->ReadFlash(sim::kFlashSize - 0x1000, 0x1000),
              Bytes(0x1000, sim::kUnwrittenFlashByte));
}

TEST_F(SimUnitTest, LateAckHoldsTheFirstAnswerAndThenAnswersTheResend) {
    Start("late-ack=1:1200");
    BeginAndErase(0, 0x4000);
    const std::size_t before = m_link.Sent().size();
    const Bytes block0 = WriteBlock(m_model, 0, Pattern(0, kBlock));
    const Bytes block1 = WriteBlock(m_model, kBlock, Pattern(kBlock, kBlock));
    const Bytes block2 = WriteBlock(m_model, 2 * kBlock, Pattern(2 * kBlock, kBlock));
    for (const Bytes* message : {&block0, &block1, &block1, &block2}) {
        m_unit->HandleFromHost(message->data(), message->size());
    }
    ASSERT_TRUE(m_clock.WaitForPauses(1));
    // Block 1 is written, but its answer and everything behind it wait.
    EXPECT_EQ(m_clock.Requested(), (std::vector<std::chrono::milliseconds>{1200ms}));
    EXPECT_EQ(m_link.Sent().size(), before + 1);
    EXPECT_EQ(m_unit->ReadFlash(kBlock, kBlock), Pattern(kBlock, kBlock));

    m_clock.Release();
    ASSERT_TRUE(m_unit->WaitIdle(kDeadline));
    const std::vector<Bytes> sent = m_link.Sent();
    ASSERT_EQ(sent.size(), before + 4);
    for (std::size_t i = before; i < sent.size(); ++i) EXPECT_EQ(sent[i], Status(m_model, 0));
    EXPECT_EQ(m_clock.Requested().size(), 1u);
    EXPECT_EQ(m_unit->GetRecord().blockRetries, 1);
}

// Enters a real delay and says so, so the test knows the unit is inside it.
class CSignallingClock : public sim::Clock {
  public:
    void Pause(std::chrono::milliseconds delay, std::stop_token stop) override {
        {
            std::lock_guard held(m_lock);
            m_entered = true;
        }
        m_changed.notify_all();
        sim::RealClock().Pause(delay, stop);
    }

    bool WaitEntered() {
        std::unique_lock held(m_lock);
        return m_changed.wait_for(held, kDeadline, [this] { return m_entered; });
    }

  private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_entered = false;
};

class SimUnitShutdownTest : public SimUnitTest {
  protected:
    ~SimUnitShutdownTest() override { m_unit.reset(); }
    CSignallingClock m_signalling;
};

TEST_F(SimUnitShutdownTest, DestroyingTheUnitCutsALongDelayShort) {
    CSignallingClock& clock = m_signalling;
    sim::Options options;
    options.clock = &clock;
    options.faults.lateAcks = {{0, 600000}};
    Start(std::move(options));
    BeginAndErase(0, 0x1000);
    const std::size_t before = m_link.Sent().size();
    const Bytes block = WriteBlock(m_model, 0, Pattern(0, kBlock));
    m_unit->HandleFromHost(block.data(), block.size());
    ASSERT_TRUE(clock.WaitEntered());
    m_unit.reset();
    EXPECT_EQ(m_link.Sent().size(), before);
}

TEST_F(SimUnitTest, StoppedUnitDropsWhatComesLater) {
    m_unit->Stop();
    const Bytes request = IdentityRequest();
    m_unit->HandleFromHost(request.data(), request.size());
    EXPECT_TRUE(m_unit->WaitIdle(kDeadline));
    EXPECT_TRUE(m_link.Sent().empty());
    EXPECT_EQ(m_unit->GetRecord().Received(sim::Kind::kIdentityRequest), 0);
}

struct InjectCase {
    const char* faults;
    const char* stage;
    Bytes expected;
};

TEST_F(SimUnitTest, InjectsItsMessageOnceJustBeforeTheStagesAnswer) {
    const Bytes truncated = {0xF0, 0x52, 0x00, 0x57, 0x00};
    const InjectCase cases[] = {
        {"inject=identity-request@write:1", "write:1", IdentityRequest()},
        {"inject=begin-update@erase:1", "erase:1", BeginUpdate(0x57)},
        {"inject=end-update@begin", "begin", EndUpdate(0x57)},
        {"inject=unknown-command@identity", "identity", {0xF0, 0x52, 0x00, 0x57, 0x40, 0xF7}},
        {"inject=wrong-model@write:2", "write:2", Status(0x58, 0)},
        {"inject=truncated@end", "end", truncated},
        {"inject=no-f0@write:0", "write:0", {0x00, 0x52, 0x00, 0x57, 0x00, 0x00, 0xF7}},
    };
    for (const InjectCase& c : cases) {
        Start(c.faults);
        for (const Step& step : ShortUpdate(m_model)) {
            const std::vector<Bytes> sent = Exchange(step.message);
            if (std::string(c.stage) != step.stage) {
                EXPECT_EQ(sent.size(), 1u) << c.faults << " at " << step.stage;
                continue;
            }
            ASSERT_EQ(sent.size(), 2u) << c.faults;
            EXPECT_EQ(sent[0], c.expected) << c.faults;
            // The stage's own answer follows.
            EXPECT_EQ(sent[1].size(), step.stage == std::string("identity") ? 15u : 7u);
            // Sent again, the stage's message brings no second injection.
            if (step.stage != std::string("identity")) {
                EXPECT_EQ(Exchange(step.message).size(), 1u) << c.faults;
            }
        }
    }
}

TEST_F(SimUnitTest, OversizeMessageIsOneLongSysExForAnIgnoredCommand) {
    Start("inject=oversize@begin,inject=wrong-model@begin");
    ASSERT_EQ(Exchange(IdentityRequest()).size(), 1u);
    const std::vector<Bytes> sent = Exchange(BeginUpdate(m_model));
    ASSERT_EQ(sent.size(), 3u);
    const Bytes& big = sent[0];
    EXPECT_GT(big.size(), 8192u);
    EXPECT_EQ(Bytes(big.begin(), big.begin() + 5), (Bytes{0xF0, 0x52, 0x00, 0x57, 0x03}));
    EXPECT_EQ(big.back(), 0xF7);
    EXPECT_TRUE(std::all_of(big.begin() + 1, big.end() - 1, [](auto b) { return b < 0x80; }));
    EXPECT_EQ(sent[1], Status(0x58, 0));
    EXPECT_EQ(sent[2], Status(0x57, 0));
}

TEST_F(SimUnitTest, WrongModelAcknowledgementCarriesTheOtherAcceptedFamily) {
    sim::Options options;
    options.family = 0x58;
    std::string error;
    ASSERT_TRUE(sim::ParseFaults("inject=wrong-model@begin", &options.faults, &error));
    Start(std::move(options));
    const std::vector<Bytes> sent = Exchange(BeginUpdate(0x58));
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], Status(0x57, 0));
}

TEST_F(SimUnitTest, EachIdentityRequestStartsAnUpdateWithFreshCounts) {
    Start("crc=0:1,silent=end,inject=unknown-command@write:0");
    for (int update = 0; update < 2; ++update) {
        ASSERT_EQ(Exchange(IdentityRequest()).size(), 1u);
        BeginAndErase(0x40000, 0x1000);
        const Bytes block = WriteBlock(m_model, 0x40000, Pattern(0x40000, kBlock));
        const std::vector<Bytes> first = Exchange(block);
        ASSERT_EQ(first.size(), 2u) << update;
        EXPECT_EQ(first[1], Status(m_model, 8)) << update;
        EXPECT_EQ(Code(block), 0) << update;
        EXPECT_TRUE(Exchange(EndUpdate(m_model)).empty()) << update;
        const sim::Record record = m_unit->GetRecord();
        EXPECT_EQ(record.updates, update + 1);
        EXPECT_EQ(record.blocks.size(), 1u);
        EXPECT_EQ(record.crcErrors, update + 1);
    }
}

// A whole update as the host sends it: the seven rows of the plan over three images.
class FullUpdateTest : public SimUnitTest {
  protected:
    void SetUp() override {
        SimUnitTest::SetUp();
        for (std::size_t i = 0; i < 3; ++i) {
            m_images[i] = Pattern(sim::kRegions[i].address, sim::kRegions[i].length,
                                  static_cast<std::uint8_t>(sim::kRegions[i].imageId));
        }
    }

    void RunUpdate() {
        ASSERT_EQ(Answer(IdentityRequest())->at(6), m_model);
        ASSERT_EQ(Code(BeginUpdate(m_model)), 0);
        ASSERT_EQ(Code(EraseRange(m_model, 0xEF000, 0x1000)), 0);
        for (std::size_t i = 0; i < 3; ++i) {
            const sim::Region& region = sim::kRegions[i];
            ASSERT_EQ(Code(EraseRange(m_model, region.address, region.length)), 0);
            for (std::int32_t offset = 0; offset < region.length; offset += kBlock) {
                const Bytes data(m_images[i].begin() + offset,
                                 m_images[i].begin() + offset + kBlock);
                ASSERT_EQ(Code(WriteBlock(m_model, region.address + offset, data)), 0);
            }
        }
        ASSERT_EQ(Code(EndUpdate(m_model)), 0);
    }

    std::vector<std::span<const std::uint8_t>> Images() const {
        return {m_images[0], m_images[1], m_images[2]};
    }

    Bytes m_images[3];
};

TEST_F(FullUpdateTest, VerifiesEachRegionAgainstItsImage) {
    RunUpdate();
    for (std::size_t i = 0; i < 3; ++i) {
        const sim::RegionVerdict verdict = m_unit->CheckRegion(sim::kRegions[i], m_images[i]);
        EXPECT_TRUE(verdict.equal) << i;
        EXPECT_EQ(verdict.firstDifference, -1) << i;
    }
    // Images swapped between regions of which one is shorter, and an image with one byte off.
    const sim::RegionVerdict swapped = m_unit->CheckRegion(sim::kRegions[1], m_images[0]);
    EXPECT_FALSE(swapped.equal);
    EXPECT_TRUE(swapped.sizeMismatch);
    Bytes altered = m_images[2];
    altered[0x12345] ^= 0x20;
    const sim::RegionVerdict off = m_unit->CheckRegion(sim::kRegions[2], altered);
    EXPECT_FALSE(off.equal);
    EXPECT_FALSE(off.sizeMismatch);
    EXPECT_EQ(off.firstDifference, 0x40000 + 0x12345);

    const sim::Record record = m_unit->GetRecord();
    EXPECT_EQ(record.Received(sim::Kind::kWriteBlock), 486);
    EXPECT_EQ(record.Received(sim::Kind::kEraseRange), 4);
    EXPECT_EQ(record.modelBytes, (std::map<std::uint8_t, std::int64_t>{{0x57, 492}}));
    EXPECT_EQ(record.endUpdates, 1);
}

TEST_F(FullUpdateTest, SummaryTellsTheCountsAndTheVerdict) {
    RunUpdate();
    const std::string good = m_unit->Summary(Images());
    EXPECT_NE(good.find("received: identity-request 1, begin-update 1, erase-range 4, "
                        "write-block 486, end-update 1\n"),
              std::string::npos)
        << good;
    EXPECT_NE(good.find("model bytes: 0x57 (492)\n"), std::string::npos) << good;
    EXPECT_NE(good.find("retries: 0 (write blocks 0, erase rows 0)\n"), std::string::npos);
    EXPECT_NE(good.find("crc errors: 0\n"), std::string::npos);
    EXPECT_NE(good.find("region 0x3FD000 +0x003000 (133): equal\n"), std::string::npos) << good;
    EXPECT_NE(good.find("\nflash: verified\n"), std::string::npos) << good;

    Bytes altered = m_images[1];
    altered[0x2001] ^= 1;
    const std::vector<std::span<const std::uint8_t>> images = {m_images[0], altered, m_images[2]};
    const std::string bad = m_unit->Summary(images);
    EXPECT_NE(bad.find("region 0x3FD000 +0x003000 (133): differs from 0x3FF001\n"),
              std::string::npos)
        << bad;
    EXPECT_NE(bad.find("\nflash: differs\n"), std::string::npos) << bad;

    const std::string unchecked = m_unit->Summary();
    EXPECT_NE(unchecked.find("(136): not checked\n"), std::string::npos) << unchecked;
    EXPECT_NE(unchecked.find("\nflash: not checked\n"), std::string::npos) << unchecked;
}

TEST_F(FullUpdateTest, UpdateThatSkippedABlockDoesNotVerify) {
    ASSERT_EQ(Code(BeginUpdate(m_model)), 0);
    const sim::Region& region = sim::kRegions[1];
    ASSERT_EQ(Code(EraseRange(m_model, region.address, region.length)), 0);
    for (std::int32_t offset = 0; offset < region.length; offset += kBlock) {
        if (offset == 3 * kBlock) continue;
        const Bytes data(m_images[1].begin() + offset, m_images[1].begin() + offset + kBlock);
        ASSERT_EQ(Code(WriteBlock(m_model, region.address + offset, data)), 0);
    }
    const sim::RegionVerdict verdict = m_unit->CheckRegion(region, m_images[1]);
    EXPECT_FALSE(verdict.equal);
    EXPECT_EQ(verdict.firstDifference, region.address + 3 * kBlock);
}

TEST_F(FullUpdateTest, DumpsTheFlashAndEachRegion) {
    RunUpdate();
    const std::filesystem::path folder =
        std::filesystem::path(::testing::TempDir()) / "rx300-sim-dump" / "nested";
    std::filesystem::remove_all(folder);
    std::string error;
    ASSERT_TRUE(m_unit->DumpFlash(folder.string(), &error)) << error;
    auto read = [](const std::filesystem::path& path) {
        std::ifstream file(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(file), {});
    };
    EXPECT_EQ(read(folder / "flash.bin"), m_unit->ReadFlash(0, sim::kFlashSize));
    EXPECT_EQ(read(folder / "136.bin"), m_images[0]);
    EXPECT_EQ(read(folder / "133.bin"), m_images[1]);
    EXPECT_EQ(read(folder / "129.bin"), m_images[2]);

    // A file where the folder should be.
    const std::filesystem::path blocked = folder / "flash.bin" / "x";
    EXPECT_FALSE(m_unit->DumpFlash(blocked.string(), &error));
    EXPECT_NE(error.find("cannot create"), std::string::npos) << error;
    std::filesystem::remove_all(folder.parent_path());
}

}  // namespace
