#include "protocol/septets.h"

std::int32_t PackSeptets(std::uint8_t* destination, const std::uint8_t* source,
                         std::int32_t count) {
    if (count <= 0) {
        return 0;
    }
    for (std::int32_t g = 0; 7 * g < count; ++g) {
        const std::int32_t n = 7 * g + 7 > count ? count - 7 * g : 7;
        std::uint8_t* group = destination + 8 * g;
        group[0] = 0;
        std::uint8_t mask = 0x40;
        for (std::int32_t j = 0; j < n; ++j) {
            const std::uint8_t b = source[7 * g + j];
            if (b & 0x80) {
                group[0] |= mask;
            }
            group[1 + j] = b & 0x7F;
            mask >>= 1;
        }
    }
    return PackedLength(count);
}

std::int32_t UnpackSeptets(std::uint8_t* destination, const std::uint8_t* source,
                           std::int32_t packedLength) {
    std::int32_t written = 0;
    for (std::int32_t at = 0; at < packedLength; at += 8) {
        const std::int32_t n = packedLength - at >= 8 ? 7 : packedLength - at - 1;
        std::uint8_t mask = 0x40;
        for (std::int32_t j = 0; j < n; ++j) {
            const std::uint8_t bit7 = (source[at] & mask) ? 0x80 : 0x00;
            destination[written++] = (source[at + 1 + j] & 0x7F) | bit7;
            mask >>= 1;
        }
    }
    return written;
}

void EncodeSigned5(std::uint8_t* out, std::int32_t value) {
    for (int i = 0; i < 5; ++i) {
        out[i] = (value >> (7 * i)) & 0x7F;
    }
}

void EncodeUnsigned5(std::uint8_t* out, std::uint32_t value) {
    for (int i = 0; i < 5; ++i) {
        out[i] = (value >> (7 * i)) & 0x7F;
    }
}

std::uint32_t Decode5(const std::uint8_t* in) {
    std::uint32_t value = 0;
    for (int i = 0; i < 5; ++i) {
        value |= static_cast<std::uint32_t>(in[i] & 0x7F) << (7 * i);
    }
    return value;
}
