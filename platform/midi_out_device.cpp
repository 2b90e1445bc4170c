#include "platform/midi_out_device.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "platform/device_directory.h"
#include "platform/handle_table.h"
#include "platform/midi_backend.h"

namespace {

constexpr DWORD kCallbackTypeMask = 0x70000;
constexpr UINT kMinHeaderSize = offsetof(MIDIHDR, dwFlags) + sizeof(DWORD);
constexpr WORD MOD_MIDIPORT = 1;

}  // namespace

struct MidiOutDevice {
    explicit MidiOutDevice(std::unique_ptr<platform::OutputStream> output)
        : stream(std::move(output)) {}

    // Serialises sends: the update's worker and the timer's automatic answers share a device,
    // and a backend sends one message at a time.
    std::mutex sendMutex;
    std::unique_ptr<platform::OutputStream> stream;
};

namespace platform::midi_out {

namespace {

HandleTable<MidiOutDevice>& Devices() {
    static auto* devices = new HandleTable<MidiOutDevice>;
    return *devices;
}

bool ValidHeader(const MIDIHDR* header, UINT size) {
    return header != nullptr && size >= kMinHeaderSize;
}

}  // namespace

int ShortMessageLength(BYTE status) {
    if (status < 0x80) {
        return 0;
    }
    if (status < 0xC0 || (status >= 0xE0 && status < 0xF0)) {
        return 3;
    }
    if (status < 0xE0) {
        return 2;
    }
    switch (status) {
        case 0xF0:
        case 0xF7:
            return 0;
        case 0xF1:
        case 0xF3:
            return 2;
        case 0xF2:
            return 3;
        default:
            return 1;
    }
}

UINT GetNumDevs() {
    return devices::CountOutputs();
}

MMRESULT GetDevCaps(UINT_PTR device, MIDIOUTCAPSA* caps, UINT size) {
    if (caps == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    MIDIOUTCAPSA filled{};
    std::string name;
    const bool found = devices::OutputName(device, &name);
    if (found) {
        filled.vDriverVersion = 0x0100;
        filled.wTechnology = MOD_MIDIPORT;
        filled.wChannelMask = 0xFFFF;
        std::memcpy(filled.szPname, name.data(), std::min(name.size(), sizeof filled.szPname - 1));
    }
    std::memcpy(caps, &filled, std::min<std::size_t>(size, sizeof filled));
    return found ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
}

MMRESULT Open(HMIDIOUT* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    (void)callback;
    (void)instance;
    if (handle == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    *handle = nullptr;
    // Completion is reported through the header only.
    if (flags != CALLBACK_NULL) {
        return MMSYSERR_INVALFLAG;
    }
    std::unique_ptr<OutputStream> stream;
    if (MMRESULT result = devices::OpenOutput(device, &stream); result != MMSYSERR_NOERROR) {
        return result;
    }
    auto opened = std::make_shared<MidiOutDevice>(std::move(stream));
    Devices().Add(opened);
    *handle = opened.get();
    return MMSYSERR_NOERROR;
}

MMRESULT Close(HMIDIOUT handle) {
    if (!Devices().Find(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    // A send in flight on another thread keeps the device until it returns.
    Devices().Remove(handle);
    return MMSYSERR_NOERROR;
}

MMRESULT PrepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT size) {
    if (!Devices().Find(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!ValidHeader(header, size) || header->lpData == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT UnprepareHeader(HMIDIOUT handle, MIDIHDR* header, UINT size) {
    if (!Devices().Find(handle)) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!ValidHeader(header, size)) {
        return MMSYSERR_INVALPARAM;
    }
    if ((header->dwFlags & MHDR_INQUEUE) != 0) {
        return MIDIERR_STILLPLAYING;
    }
    header->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT LongMsg(HMIDIOUT handle, MIDIHDR* header, UINT size) {
    auto device = Devices().Find(handle);
    if (!device) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!ValidHeader(header, size) || header->lpData == nullptr || header->dwBufferLength == 0) {
        return MMSYSERR_INVALPARAM;
    }
    if ((header->dwFlags & MHDR_PREPARED) == 0) {
        return MIDIERR_UNPREPARED;
    }
    if ((header->dwFlags & MHDR_INQUEUE) != 0) {
        return MIDIERR_STILLPLAYING;
    }
    header->dwFlags = (header->dwFlags | MHDR_INQUEUE) & ~MHDR_DONE;
    MMRESULT result;
    {
        std::lock_guard lock(device->sendMutex);
        result = device->stream->Send(reinterpret_cast<const std::uint8_t*>(header->lpData),
                                      header->dwBufferLength);
    }
    header->dwFlags &= ~MHDR_INQUEUE;
    if (result == MMSYSERR_NOERROR) {
        header->dwFlags |= MHDR_DONE;
    }
    return result;
}

MMRESULT ShortMsg(HMIDIOUT handle, DWORD message) {
    auto device = Devices().Find(handle);
    if (!device) {
        return MMSYSERR_INVALHANDLE;
    }
    const std::uint8_t bytes[3] = {static_cast<std::uint8_t>(message),
                                   static_cast<std::uint8_t>(message >> 8),
                                   static_cast<std::uint8_t>(message >> 16)};
    const int length = ShortMessageLength(bytes[0]);
    if (length == 0) {
        return MMSYSERR_INVALPARAM;
    }
    std::lock_guard lock(device->sendMutex);
    return device->stream->Send(bytes, static_cast<std::size_t>(length));
}

}  // namespace platform::midi_out
