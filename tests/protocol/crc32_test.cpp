#include "protocol/crc32.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "protocol/septets.h"

namespace {

// Bit by bit, as the reflected polynomial defines it; checks every entry of the table.
std::uint32_t BitwiseCrc(const std::uint8_t* data, std::size_t count) {
    std::uint32_t crc = 0xFFFFFFFF;
    for (std::size_t i = 0; i < count; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1) ? (crc >> 1) ^ 0xEDB88320 : crc >> 1;
        }
    }
    return crc;
}

struct CrcCase {
    const char* text;
    std::uint32_t crc;
};

class Crc32Text : public testing::TestWithParam<CrcCase> {};

TEST_P(Crc32Text, IsTheComplementOfTheStandardCrc) {
    const auto& c = GetParam();
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.text);
    EXPECT_EQ(Crc32(bytes, static_cast<std::uint32_t>(std::strlen(c.text))), c.crc);
}

INSTANTIATE_TEST_SUITE_P(Examples, Crc32Text,
                         testing::Values(CrcCase{"", 0xFFFFFFFF},
                                         CrcCase{"abc", 0xCADBBE3D},         // standard 0x352441C2
                                         CrcCase{"123456789", 0x340BC6D9}),  // 0xCBF43926
                         [](const auto& info) {
                             return *info.param.text ? std::string("Text") + info.param.text
                                                     : std::string("NoBytes");
                         });

TEST(Crc32, EveryTableEntryMatchesThePolynomial) {
    for (int b = 0; b < 256; ++b) {
        const auto byte = static_cast<std::uint8_t>(b);
        ASSERT_EQ(Crc32(&byte, 1), BitwiseCrc(&byte, 1)) << "byte " << b;
    }
}

TEST(Crc32, LongBlockMatchesThePolynomial) {
    std::vector<std::uint8_t> block(2048);
    std::uint32_t seed = 12345;
    for (auto& b : block) {
        seed = seed * 1103515245 + 12345;
        b = static_cast<std::uint8_t>(seed >> 16);
    }
    EXPECT_EQ(Crc32(block.data(), 2048), BitwiseCrc(block.data(), block.size()));
}

TEST(Crc32, AbcTravelsAsItsFiveSeptets) {
    std::uint8_t septets[5];
    EncodeUnsigned5(septets, Crc32(reinterpret_cast<const std::uint8_t*>("abc"), 3));
    const std::uint8_t expected[5] = {0x3D, 0x7C, 0x6E, 0x56, 0x0C};
    EXPECT_EQ(0, std::memcmp(septets, expected, 5));
}

}  // namespace
