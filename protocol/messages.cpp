#include "protocol/messages.h"

#include <cstring>

#include "protocol/crc32.h"
#include "protocol/septets.h"

namespace rx {

std::atomic<std::uint8_t> g_modelByte{kDefaultModelByte};

std::uint8_t g_identityReplyImage[15] = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x00, 0x00,
                                         0x00, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7};
static_assert(sizeof(g_identityReplyImage) == sizeof(kIdentityReplyTemplate));

std::uint8_t g_messageBuffer[kMessageBufferSize];

std::int32_t BuildStatus(std::uint8_t* out, std::uint8_t model, std::uint8_t code) {
    std::memcpy(out, kStatusImage, sizeof(kStatusImage));
    out[3] = model;
    out[5] = code;
    return sizeof(kStatusImage);
}

std::int32_t BuildBeginUpdate(std::uint8_t* out, std::uint8_t model) {
    std::memcpy(out, kBeginUpdateImage, sizeof(kBeginUpdateImage));
    out[3] = model;
    return sizeof(kBeginUpdateImage);
}

std::int32_t BuildEndUpdate(std::uint8_t* out, std::uint8_t model) {
    std::memcpy(out, kEndUpdateImage, sizeof(kEndUpdateImage));
    out[3] = model;
    return sizeof(kEndUpdateImage);
}

std::int32_t BuildWriteBlock(std::uint8_t* out, std::uint8_t model, const std::uint8_t* data,
                             std::int32_t address, std::int32_t length) {
    std::memcpy(out, kWriteBlockImage, sizeof(kWriteBlockImage));
    out[3] = model;
    EncodeSigned5(out + 5, address);
    out[10] = length & 0x7F;
    out[11] = (length >> 7) & 0x7F;
    const std::int32_t packed = PackSeptets(out + 12, data, length);
    // A negative length packs nothing, so the CRC covers nothing either.
    const std::uint32_t crc = Crc32(data, length > 0 ? static_cast<std::uint32_t>(length) : 0);
    EncodeUnsigned5(out + 12 + packed, crc);
    out[17 + packed] = kSysExEnd;
    return packed + 18;
}

std::int32_t BuildEraseRange(std::uint8_t* out, std::uint8_t model, std::int32_t address,
                             std::int32_t size) {
    std::memcpy(out, kEraseRangeImage, sizeof(kEraseRangeImage));
    out[3] = model;
    EncodeSigned5(out + 5, address);
    EncodeSigned5(out + 10, size);
    return sizeof(kEraseRangeImage);
}

}  // namespace rx
