#include "protocol/septets.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
using testing::ElementsAreArray;

constexpr std::uint8_t kSentinel = 0xAA;

struct PackCase {
    const char* name;
    Bytes source;
    Bytes packed;
};

class PackSeptetsCase : public testing::TestWithParam<PackCase> {};

TEST_P(PackSeptetsCase, WritesTheGroupsAndNothingBeyond) {
    const auto& c = GetParam();
    Bytes out(c.packed.size() + 8, kSentinel);
    const Bytes before = c.source;

    const std::int32_t written =
        PackSeptets(out.data(), c.source.data(), static_cast<std::int32_t>(c.source.size()));

    EXPECT_EQ(written, static_cast<std::int32_t>(c.packed.size()));
    EXPECT_THAT(Bytes(out.begin(), out.begin() + c.packed.size()), ElementsAreArray(c.packed));
    EXPECT_THAT(Bytes(out.begin() + c.packed.size(), out.end()), testing::Each(kSentinel));
    EXPECT_EQ(c.source, before);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, PackSeptetsCase,
    testing::Values(PackCase{"FullGroupThenOneByteGroup",
                             {0x80, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0xFF},
                             {0x40, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x40, 0x7F}},
                    PackCase{"SevenBytesMakeOneFullGroup",
                             {0xFF, 0x7F, 0x80, 0x00, 0x81, 0x01, 0xFE},
                             {0x55, 0x7F, 0x7F, 0x00, 0x00, 0x01, 0x01, 0x7E}},
                    PackCase{"OneZeroByte", {0x00}, {0x00, 0x00}},
                    PackCase{
                        "ShortLastGroupUsesTheTopBits",
                        {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x81, 0x82},
                        {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x70, 0x00, 0x01, 0x02}},
                    PackCase{"NoBytes", {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PackSeptets, NegativeCountWritesNothing) {
    const std::uint8_t source[1] = {0xFF};
    std::uint8_t out[4] = {kSentinel, kSentinel, kSentinel, kSentinel};
    EXPECT_EQ(PackSeptets(out, source, -5), 0);
    EXPECT_THAT(out, testing::Each(kSentinel));
}

TEST(PackSeptets, PackedLengthIsCountPlusOneHighBitBytePerGroup) {
    const std::pair<std::int32_t, std::int32_t> cases[] = {
        {0, 0}, {1, 2}, {6, 7}, {7, 8}, {8, 10}, {14, 16}, {15, 18}, {2048, 2341}, {-1, 0}};
    for (const auto& [count, packed] : cases) {
        EXPECT_EQ(PackedLength(count), packed) << count;
    }
}

TEST(PackSeptets, UnpackRestoresEveryLength) {
    Bytes data(2048);
    std::uint32_t seed = 7;
    for (auto& b : data) {
        seed = seed * 1664525 + 1013904223;
        b = static_cast<std::uint8_t>(seed >> 24);
    }
    for (std::int32_t count : {1, 2, 6, 7, 8, 13, 14, 15, 100, 2048}) {
        Bytes packed(PackedLength(count), kSentinel);
        ASSERT_EQ(PackSeptets(packed.data(), data.data(), count), PackedLength(count));
        EXPECT_THAT(packed, testing::Each(testing::Lt(0x80))) << count;

        Bytes back(count + 7, kSentinel);
        EXPECT_EQ(UnpackSeptets(back.data(), packed.data(), PackedLength(count)), count);
        EXPECT_THAT(Bytes(back.begin(), back.begin() + count),
                    ElementsAreArray(data.data(), count));
        EXPECT_EQ(back[count], kSentinel) << count;
    }
}

struct NumberCase {
    std::uint32_t value;
    bool isSigned;
    Bytes septets;
};

class NumberEncoding : public testing::TestWithParam<NumberCase> {};

TEST_P(NumberEncoding, FiveSeptetsLeastSignificantFirst) {
    const auto& c = GetParam();
    std::uint8_t out[5] = {};
    if (c.isSigned) {
        EncodeSigned5(out, static_cast<std::int32_t>(c.value));
    } else {
        EncodeUnsigned5(out, c.value);
    }
    EXPECT_THAT(out, ElementsAreArray(c.septets));
    EXPECT_EQ(Decode5(out), c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, NumberEncoding,
    testing::Values(NumberCase{0x003FD000, true, {0x00, 0x20, 0x7F, 0x01, 0x00}},
                    NumberCase{0x3000, true, {0x00, 0x60, 0x00, 0x00, 0x00}},
                    NumberCase{0x000EF000, true, {0x00, 0x60, 0x3B, 0x00, 0x00}},
                    // Bit 31 set: the arithmetic shift copies the sign into bits 4 to 6.
                    NumberCase{0x80000000, true, {0x00, 0x00, 0x00, 0x00, 0x78}},
                    NumberCase{0xFFFFFFFF, true, {0x7F, 0x7F, 0x7F, 0x7F, 0x7F}},
                    NumberCase{0xCADBBE3D, false, {0x3D, 0x7C, 0x6E, 0x56, 0x0C}},
                    NumberCase{0xFFFFFFFF, false, {0x7F, 0x7F, 0x7F, 0x7F, 0x0F}},
                    NumberCase{0x80000000, false, {0x00, 0x00, 0x00, 0x00, 0x08}}),
    [](const auto& info) {
        char name[24];
        std::snprintf(name, sizeof(name), "%s%08X", info.param.isSigned ? "Signed" : "Unsigned",
                      info.param.value);
        return std::string(name);
    });

}  // namespace
