// CRC-32 of a Write Block's data: the reflected IEEE 802.3 CRC (polynomial 0xEDB88320) from a
// register started at 0xFFFFFFFF, returned without the final complement.
#pragma once

#include <cstdint>

std::uint32_t Crc32(const std::uint8_t* data, std::uint32_t count);
