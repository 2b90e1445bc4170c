// What the loopback tests send and how they find and drain the ports.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <thread>
#include <vector>

#include "midi/midi_in_port.h"
#include "protocol/messages.h"

namespace loopback {

using Bytes = std::vector<std::uint8_t>;

template <typename Port>
inline int FindDevice(Port& port, const char* wanted) {
    const int count = port.GetDeviceCount();
    for (int index = 0; index < count; ++index) {
        char name[40] = {};
        port.GetDeviceName(index, name);
        if (std::strcmp(name, wanted) == 0) {
            return index;
        }
    }
    return -1;
}

inline Bytes Built(std::int32_t (*build)(std::uint8_t*)) {
    Bytes message(rx::kMessageBufferSize);
    message.resize(build(message.data()));
    return message;
}

// Every message the updater exchanges with the unit, and the largest the input buffer holds.
inline std::vector<Bytes> EveryMessageType() {
    std::vector<Bytes> messages;
    messages.emplace_back(std::begin(rx::kIdentityRequestImage),
                          std::end(rx::kIdentityRequestImage));
    Bytes reply(std::begin(rx::kIdentityReplyTemplate), std::end(rx::kIdentityReplyTemplate));
    reply[6] = 0x58;
    messages.push_back(reply);
    messages.push_back(Built([](std::uint8_t* out) { return rx::BuildStatus(out, 0x57, 8); }));
    messages.push_back(Built([](std::uint8_t* out) { return rx::BuildBeginUpdate(out, 0x57); }));
    messages.push_back(Built([](std::uint8_t* out) {
        Bytes data(2048);
        for (std::size_t i = 0; i < data.size(); ++i) {
            data[i] = static_cast<std::uint8_t>(i * 151 + 7);
        }
        return rx::BuildWriteBlock(out, 0x57, data.data(), 0x3FD000, 2048);
    }));
    Bytes largest(MidiInPort::kReceiveBufferSize);
    for (std::size_t i = 0; i < largest.size(); ++i) {
        largest[i] = static_cast<std::uint8_t>(i % 0x7F);
    }
    largest.front() = 0xF0;
    largest.back() = 0xF7;
    messages.push_back(largest);
    messages.push_back(Built([](std::uint8_t* out) { return rx::BuildEndUpdate(out, 0x57); }));
    messages.push_back(
        Built([](std::uint8_t* out) { return rx::BuildEraseRange(out, 0x57, 0x40000, 0xB0000); }));
    return messages;
}

// Drains the port's queue until `count` copies came or a generous deadline passed.
inline std::vector<Bytes> Receive(MidiInPort& in, std::size_t count) {
    std::vector<Bytes> received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (received.size() < count && std::chrono::steady_clock::now() < deadline) {
        DWORD length = 0;
        if (const BYTE* copy = in.PeekSysEx(&length)) {
            received.emplace_back(copy, copy + length);
            in.PopSysEx();
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    return received;
}

inline MIDIHDR HeaderFor(Bytes& message) {
    MIDIHDR header{};
    header.lpData = reinterpret_cast<LPSTR>(message.data());
    header.dwBufferLength = static_cast<DWORD>(message.size());
    return header;
}

}  // namespace loopback
