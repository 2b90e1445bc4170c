// Septet packing: 8-bit data carried in a SysEx body as groups of a high-bit byte followed by up
// to seven 7-bit bytes; and the septet encoding of numbers, least significant first.
#pragma once

#include <cstdint>

// Packs `count` bytes and returns count + ceil(count / 7), 0 when count <= 0.
std::int32_t PackSeptets(std::uint8_t* destination, const std::uint8_t* source, std::int32_t count);

// The reverse of PackSeptets: unpacks `packedLength` bytes, returns the number of data bytes.
std::int32_t UnpackSeptets(std::uint8_t* destination, const std::uint8_t* source,
                           std::int32_t packedLength);

constexpr std::int32_t PackedLength(std::int32_t count) {
    return count <= 0 ? 0 : count + (count + 6) / 7;
}

// Five septets of a signed address or size, arithmetic shift.
void EncodeSigned5(std::uint8_t* out, std::int32_t value);
// Five septets of an unsigned value (the CRC), logical shift.
void EncodeUnsigned5(std::uint8_t* out, std::uint32_t value);
// Reassembles five septets into 32 bits.
std::uint32_t Decode5(const std::uint8_t* in);
