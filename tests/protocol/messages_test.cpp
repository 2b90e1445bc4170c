#include "protocol/messages.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "protocol/crc32.h"
#include "protocol/septets.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::ElementsAreArray;

constexpr std::uint8_t kSentinel = 0xAA;

const Bytes kEightBytes = {0x80, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xFF};

struct BuildCase {
    const char* name;
    std::function<std::int32_t(std::uint8_t*)> build;
    Bytes expected;
};

class BuiltMessage : public testing::TestWithParam<BuildCase> {};

TEST_P(BuiltMessage, IsExactlyTheseBytes) {
    const auto& c = GetParam();
    Bytes out(c.expected.size() + 16, kSentinel);
    const std::int32_t length = c.build(out.data());
    ASSERT_EQ(length, static_cast<std::int32_t>(c.expected.size()));
    EXPECT_THAT(Bytes(out.begin(), out.begin() + length), ElementsAreArray(c.expected));
    EXPECT_THAT(Bytes(out.begin() + length, out.end()), testing::Each(kSentinel));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, BuiltMessage,
    testing::Values(BuildCase{"WriteBlockOfEightBytes",
                              [](std::uint8_t* out) {
                                  return rx::BuildWriteBlock(out, 0x57, kEightBytes.data(), 0x1000,
                                                             8);
                              },
                              {0xF0, 0x52, 0x00, 0x57, 0x02, 0x00, 0x20, 0x00, 0x00, 0x00,
                               0x08, 0x00, 0x40, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06,
                               0x40, 0x7F, 0x14, 0x51, 0x21, 0x38, 0x09, 0xF7}},
                    BuildCase{"WriteBlockOfNoBytes",
                              [](std::uint8_t* out) {
                                  return rx::BuildWriteBlock(out, 0x57, kEightBytes.data(), 0x40000,
                                                             0);
                              },
                              {0xF0, 0x52, 0x00, 0x57, 0x02, 0x00, 0x00, 0x10, 0x00, 0x00, 0x00,
                               0x00, 0x7F, 0x7F, 0x7F, 0x7F, 0x0F, 0xF7}},
                    BuildCase{"EraseRange",
                              [](std::uint8_t* out) {
                                  return rx::BuildEraseRange(out, 0x57, 0x000EF000, 0x1000);
                              },
                              {0xF0, 0x52, 0x00, 0x57, 0x0A, 0x00, 0x60, 0x3B, 0x00, 0x00, 0x00,
                               0x20, 0x00, 0x00, 0x00, 0xF7}},
                    BuildCase{"EraseRangeWithSignBitsSet",
                              [](std::uint8_t* out) {
                                  return rx::BuildEraseRange(out, 0x58, -1,
                                                             static_cast<std::int32_t>(0x80000000));
                              },
                              {0xF0, 0x52, 0x00, 0x58, 0x0A, 0x7F, 0x7F, 0x7F, 0x7F, 0x7F, 0x00,
                               0x00, 0x00, 0x00, 0x78, 0xF7}},
                    BuildCase{"StatusNotRecognisedForFamily58",
                              [](std::uint8_t* out) {
                                  return rx::BuildStatus(out, 0x58, rx::kStatusNotRecognised);
                              },
                              {0xF0, 0x52, 0x00, 0x58, 0x00, 0x01, 0xF7}},
                    BuildCase{"BeginUpdate",
                              [](std::uint8_t* out) { return rx::BuildBeginUpdate(out, 0x58); },
                              {0xF0, 0x52, 0x00, 0x58, 0x01, 0xF7}},
                    BuildCase{"EndUpdate",
                              [](std::uint8_t* out) { return rx::BuildEndUpdate(out, 0x57); },
                              {0xF0, 0x52, 0x00, 0x57, 0x04, 0xF7}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MessageState, StartsWithFamily57AndAnIdentityReplyOfFamily00) {
    EXPECT_EQ(rx::g_modelByte.load(), 0x57);
    EXPECT_THAT(rx::g_identityReplyImage,
                ElementsAreArray({0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x00, 0x00, 0x00, 0x00, 0x31,
                                  0x30, 0x30, 0x30, 0xF7}));
    EXPECT_THAT(rx::g_identityReplyImage, ElementsAreArray(rx::kIdentityReplyTemplate));

    std::uint8_t status[7];
    rx::BuildStatus(status, rx::g_modelByte.load(), rx::kStatusAccepted);
    EXPECT_THAT(status, ElementsAreArray({0xF0, 0x52, 0x00, 0x57, 0x00, 0x00, 0xF7}));
}

TEST(MessageState, IdentityRequestIsTheUniversalSixBytes) {
    EXPECT_THAT(rx::kIdentityRequestImage, ElementsAreArray({0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}));
}

// A Write Block taken apart again: header, length field, data, CRC over the unpacked data.
void ExpectWriteBlockCarries(const std::uint8_t* message, std::int32_t messageLength,
                             const Bytes& data, std::int32_t address) {
    const auto length = static_cast<std::int32_t>(data.size());
    const std::int32_t packed = PackedLength(length);
    ASSERT_EQ(messageLength, 18 + packed);
    EXPECT_THAT(Bytes(message, message + 5), ElementsAreArray({0xF0, 0x52, 0x00, 0x57, 0x02}));
    EXPECT_EQ(static_cast<std::int32_t>(Decode5(message + 5)), address);
    EXPECT_EQ(message[10], length & 0x7F);
    EXPECT_EQ(message[11], (length >> 7) & 0x7F);
    Bytes unpacked(length);
    EXPECT_EQ(UnpackSeptets(unpacked.data(), message + 12, packed), length);
    EXPECT_EQ(unpacked, data);
    EXPECT_EQ(Decode5(message + 12 + packed), Crc32(data.data(), length));
    EXPECT_EQ(message[17 + packed], 0xF7);
    EXPECT_THAT(Bytes(message + 1, message + messageLength - 1), testing::Each(testing::Lt(0x80)));
}

Bytes Pattern(std::size_t count) {
    Bytes data(count);
    for (std::size_t i = 0; i < count; ++i) {
        data[i] = static_cast<std::uint8_t>(i * 37 + (i >> 8));
    }
    return data;
}

TEST(WriteBlock, BlockOf2048BytesIs2359BytesInTheMessageBuffer) {
    const Bytes data = Pattern(2048);
    const std::int32_t length =
        rx::BuildWriteBlock(rx::g_messageBuffer, 0x57, data.data(), 0x3FD000, 2048);
    EXPECT_EQ(length, 2359);
    EXPECT_EQ(rx::g_messageBuffer[10], 0x00);
    EXPECT_EQ(rx::g_messageBuffer[11], 0x10);
    ExpectWriteBlockCarries(rx::g_messageBuffer, length, data, 0x3FD000);
}

TEST(WriteBlock, LargestExpressibleLengthFitsTheMessageBuffer) {
    const Bytes data = Pattern(rx::kMaxBlockLength);
    const std::int32_t length =
        rx::BuildWriteBlock(rx::g_messageBuffer, 0x57, data.data(), 0, rx::kMaxBlockLength);
    EXPECT_EQ(length, 18742);
    EXPECT_LE(length, rx::kMessageBufferSize);
    EXPECT_EQ(rx::g_messageBuffer[10], 0x7F);
    EXPECT_EQ(rx::g_messageBuffer[11], 0x7F);
    ExpectWriteBlockCarries(rx::g_messageBuffer, length, data, 0);
}

TEST(WriteBlock, LengthAboveTheFieldLosesHighBitsButPacksAllData) {
    const Bytes data = Pattern(16384 + 5);
    const std::int32_t length = rx::BuildWriteBlock(rx::g_messageBuffer, 0x57, data.data(), 0,
                                                    static_cast<std::int32_t>(data.size()));
    EXPECT_EQ(length, 18 + PackedLength(16389));
    EXPECT_EQ(rx::g_messageBuffer[10], 0x05);
    EXPECT_EQ(rx::g_messageBuffer[11], 0x00);
    EXPECT_EQ(Decode5(rx::g_messageBuffer + 12 + PackedLength(16389)), Crc32(data.data(), 16389));
}

}  // namespace
