// The SysEx messages exchanged with the unit: their stored images, the program-wide model byte
// and message buffer, and pure builders that assemble a message and return its length.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace rx {

constexpr std::uint8_t kSysExStart = 0xF0;
constexpr std::uint8_t kSysExEnd = 0xF7;
constexpr std::uint8_t kManufacturerId = 0x52;
constexpr std::uint8_t kUniversalNonRealTime = 0x7E;
constexpr std::uint8_t kGeneralInformation = 0x06;

enum Command : std::uint8_t {
    kCmdStatus = 0x00,
    kCmdBeginUpdate = 0x01,
    kCmdWriteBlock = 0x02,
    kCmdEndUpdate = 0x04,
    kCmdEraseRange = 0x0A,
};

enum StatusCode : std::uint8_t {
    kStatusAccepted = 0,
    kStatusNotRecognised = 1,
    kStatusFlashWriteError = 3,
    kStatusCrcError = 8,
    kStatusNotInUpdateMode = 11,
};

constexpr std::uint8_t kDefaultModelByte = 0x57;
constexpr std::uint8_t kAcceptedFamilies[] = {0x57, 0x58};

constexpr std::int32_t kMessageBufferSize = 65536;
constexpr std::int32_t kMaxBlockLength = 16383;

constexpr std::uint8_t kIdentityRequestImage[6] = {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7};
constexpr std::uint8_t kIdentityReplyTemplate[15] = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x00, 0x00,
                                                     0x00, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7};
constexpr std::uint8_t kStatusImage[7] = {0xF0, 0x52, 0x00, 0x00, 0x00, 0x00, 0xF7};
constexpr std::uint8_t kBeginUpdateImage[6] = {0xF0, 0x52, 0x00, 0x00, 0x01, 0xF7};
constexpr std::uint8_t kEndUpdateImage[6] = {0xF0, 0x52, 0x00, 0x00, 0x04, 0xF7};
constexpr std::uint8_t kWriteBlockImage[5] = {0xF0, 0x52, 0x00, 0x00, 0x02};
constexpr std::uint8_t kEraseRangeImage[16] = {0xF0, 0x52, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00,
                                               0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF7};

// The unit's family code: 0x57 from program start, replaced by each run's identity handshake.
// Written by the update run, read by the dispatcher on the timer thread.
extern std::atomic<std::uint8_t> g_modelByte;

// The Identity Reply that the host sends when the unit asks; offset 6 carries the family code of
// the last passed model check. Guarded by the sender's lock (see SysExSender).
extern std::uint8_t g_identityReplyImage[15];

// The one buffer in which outgoing manufacturer messages are assembled; guarded by the sender.
extern std::uint8_t g_messageBuffer[kMessageBufferSize];

// Builders: write the message at `out` and return its length in bytes.
std::int32_t BuildStatus(std::uint8_t* out, std::uint8_t model, std::uint8_t code);
std::int32_t BuildBeginUpdate(std::uint8_t* out, std::uint8_t model);
std::int32_t BuildEndUpdate(std::uint8_t* out, std::uint8_t model);
// `out` needs room for 18 + PackedLength(length) bytes.
std::int32_t BuildWriteBlock(std::uint8_t* out, std::uint8_t model, const std::uint8_t* data,
                             std::int32_t address, std::int32_t length);
std::int32_t BuildEraseRange(std::uint8_t* out, std::uint8_t model, std::int32_t address,
                             std::int32_t size);

}  // namespace rx
