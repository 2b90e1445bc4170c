#include "platform/midi_in_device.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_directory.h"
#include "platform/handle_table.h"
#include "platform/midi_backend.h"

namespace {

constexpr DWORD kCallbackTypeMask = 0x70000;
// The header members this layer reads and writes end with dwFlags.
constexpr UINT kMinHeaderSize = offsetof(MIDIHDR, dwFlags) + sizeof(DWORD);

bool IsLongMessage(const std::vector<std::uint8_t>& message) {
    // Anything that is not one short message goes through the buffers, as a SysEx does.
    return message[0] == 0xF0 || message[0] < 0x80 || message.size() > 3;
}

}  // namespace

struct MidiInDevice {
    MidiInDevice(std::unique_ptr<platform::InputStream> input, MIDIINPROC proc, DWORD_PTR inst)
        : stream(std::move(input)), callback(proc), instance(inst) {}

    // Called with callbackMutex held.
    void Notify(UINT message, DWORD_PTR param1, DWORD_PTR param2) {
        if (callback == nullptr) {
            return;
        }
        const std::thread::id outer = callbackThread.exchange(std::this_thread::get_id());
        callback(this, message, instance, param1, param2);
        callbackThread = outer;
    }

    bool InCallback() const { return callbackThread.load() == std::this_thread::get_id(); }

    void Run() {
        std::vector<std::uint8_t> message;
        while (stream->Next(message)) {
            if (message.empty()) {
                continue;
            }
            if (IsLongMessage(message)) {
                DeliverLong(message);
            } else {
                DeliverShort(message);
            }
        }
    }

    DWORD_PTR Timestamp() const {
        using namespace std::chrono;
        return static_cast<DWORD_PTR>(
            duration_cast<milliseconds>(steady_clock::now() - startedAt).count());
    }

    void DeliverShort(const std::vector<std::uint8_t>& message) {
        std::lock_guard callbackLock(callbackMutex);
        DWORD packed = 0;
        DWORD_PTR time;
        {
            std::lock_guard lock(stateMutex);
            if (!started || closing) {
                ++dropped;
                return;
            }
            for (std::size_t i = 0; i < message.size(); ++i) {
                packed |= static_cast<DWORD>(message[i]) << (8 * i);
            }
            time = Timestamp();
        }
        Notify(MIM_DATA, packed, time);
    }

    // A message longer than the buffer fills it and goes on in the next queued buffer; what
    // finds no buffer is dropped.
    void DeliverLong(const std::vector<std::uint8_t>& message) {
        std::size_t offset = 0;
        while (offset < message.size()) {
            std::lock_guard callbackLock(callbackMutex);
            MIDIHDR* header;
            DWORD_PTR time;
            {
                std::lock_guard lock(stateMutex);
                if (!started || closing || queued.empty()) {
                    ++dropped;
                    return;
                }
                header = queued.front();
                queued.pop_front();
                const std::size_t bytes =
                    std::min<std::size_t>(header->dwBufferLength, message.size() - offset);
                std::memcpy(header->lpData, message.data() + offset, bytes);
                offset += bytes;
                header->dwBytesRecorded = static_cast<DWORD>(bytes);
                header->dwFlags = (header->dwFlags | MHDR_DONE) & ~MHDR_INQUEUE;
                time = Timestamp();
            }
            Notify(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), time);
        }
    }

    std::unique_ptr<platform::InputStream> stream;
    const MIDIINPROC callback;
    const DWORD_PTR instance;
    std::thread delivery;

    // Held while a callback runs: one callback at a time, from the delivery thread or from
    // midiInReset/midiInClose. Recursive, so that the callback may call midiInReset.
    std::recursive_mutex callbackMutex;
    std::atomic<std::thread::id> callbackThread{};

    // Guards the state below; never held while a callback runs, so the callback may queue its
    // buffer again.
    std::mutex stateMutex;
    bool started = false;
    bool closing = false;
    std::deque<MIDIHDR*> queued;
    UINT dropped = 0;
    std::chrono::steady_clock::time_point startedAt;
};

namespace platform::midi_in {

namespace {

HandleTable<MidiInDevice>& Devices() {
    static auto* devices = new HandleTable<MidiInDevice>;
    return *devices;
}

bool ValidHeader(const MIDIHDR* header, UINT size) {
    return header != nullptr && size >= kMinHeaderSize;
}

}  // namespace

UINT GetNumDevs() {
    return devices::CountInputs();
}

MMRESULT GetDevCaps(UINT_PTR device, MIDIINCAPSA* caps, UINT size) {
    if (caps == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    MIDIINCAPSA filled{};
    std::string name;
    const bool found = devices::InputName(device, &name);
    if (found) {
        filled.vDriverVersion = 0x0100;
        std::memcpy(filled.szPname, name.data(), std::min(name.size(), sizeof filled.szPname - 1));
    }
    std::memcpy(caps, &filled, std::min<std::size_t>(size, sizeof filled));
    return found ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
}

MMRESULT Open(HMIDIIN* handle, UINT device, DWORD_PTR callback, DWORD_PTR instance, DWORD flags) {
    if (handle == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    *handle = nullptr;
    const DWORD type = flags & kCallbackTypeMask;
    if ((flags & ~kCallbackTypeMask) != 0 || (type != CALLBACK_NULL && type != CALLBACK_FUNCTION)) {
        return MMSYSERR_INVALFLAG;
    }
    if (type == CALLBACK_FUNCTION && callback == 0) {
        return MMSYSERR_INVALPARAM;
    }
    std::unique_ptr<InputStream> stream;
    if (MMRESULT result = devices::OpenInput(device, &stream); result != MMSYSERR_NOERROR) {
        return result;
    }
    auto proc = type == CALLBACK_FUNCTION ? reinterpret_cast<MIDIINPROC>(callback) : nullptr;
    auto opened = std::make_shared<MidiInDevice>(std::move(stream), proc, instance);
    // Known before MIM_OPEN, so that the callback may already use the handle.
    Devices().Add(opened);
    {
        std::lock_guard callbackLock(opened->callbackMutex);
        opened->Notify(MIM_OPEN, 0, 0);
    }
    try {
        opened->delivery = std::thread([device = opened.get()] { device->Run(); });
    } catch (...) {
        Devices().Remove(opened.get());
        return MMSYSERR_NOMEM;
    }
    *handle = opened.get();
    return MMSYSERR_NOERROR;
}

MMRESULT Close(HMIDIIN handle) {
    auto device = Devices().Find(handle);
    if (!device) {
        return MMSYSERR_INVALHANDLE;
    }
    if (device->InCallback()) {
        // Closing waits for the callback to return.
        return MMSYSERR_ERROR;
    }
    {
        std::lock_guard lock(device->stateMutex);
        if (device->closing) {
            return MMSYSERR_INVALHANDLE;
        }
        if (!device->queued.empty()) {
            return MIDIERR_STILLPLAYING;
        }
        device->closing = true;
        device->started = false;
    }
    device->stream->Interrupt();
    if (device->delivery.joinable()) {
        device->delivery.join();
    }
    {
        std::lock_guard callbackLock(device->callbackMutex);
        device->Notify(MIM_CLOSE, 0, 0);
    }
    device->stream.reset();
    Devices().Remove(handle);
    return MMSYSERR_NOERROR;
}

MMRESULT PrepareHeader(HMIDIIN handle, MIDIHDR* header, UINT size) {
    auto device = Devices().Find(handle);
    if (!device) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!ValidHeader(header, size) || header->lpData == nullptr) {
        return MMSYSERR_INVALPARAM;
    }
    std::lock_guard lock(device->stateMutex);
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT UnprepareHeader(HMIDIIN handle, MIDIHDR* header, UINT size) {
    auto device = Devices().Find(handle);
    if (!device) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!ValidHeader(header, size)) {
        return MMSYSERR_INVALPARAM;
    }
    std::lock_guard lock(device->stateMutex);
    if ((header->dwFlags & MHDR_INQUEUE) != 0) {
        return MIDIERR_STILLPLAYING;
    }
    header->dwFlags &= ~MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

MMRESULT AddBuffer(HMIDIIN handle, MIDIHDR* header, UINT size) {
    auto device = Devices().Find(handle);
    if (!device) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!ValidHeader(header, size) || header->lpData == nullptr || header->dwBufferLength == 0) {
        return MMSYSERR_INVALPARAM;
    }
    std::lock_guard lock(device->stateMutex);
    if (device->closing) {
        return MMSYSERR_INVALHANDLE;
    }
    if ((header->dwFlags & MHDR_PREPARED) == 0) {
        return MIDIERR_UNPREPARED;
    }
    if ((header->dwFlags & MHDR_INQUEUE) != 0) {
        return MIDIERR_STILLPLAYING;
    }
    header->dwBytesRecorded = 0;
    header->dwFlags = (header->dwFlags | MHDR_INQUEUE) & ~MHDR_DONE;
    device->queued.push_back(header);
    return MMSYSERR_NOERROR;
}

MMRESULT Start(HMIDIIN handle) {
    auto device = Devices().Find(handle);
    if (!device) {
        return MMSYSERR_INVALHANDLE;
    }
    std::lock_guard lock(device->stateMutex);
    if (device->closing) {
        return MMSYSERR_INVALHANDLE;
    }
    if (!device->started) {
        device->started = true;
        device->startedAt = std::chrono::steady_clock::now();
    }
    return MMSYSERR_NOERROR;
}

MMRESULT Stop(HMIDIIN handle) {
    // A message goes into a buffer whole or up to the buffer's end, never piecemeal, so no
    // buffer ever holds part of a message here: stopping only ends delivery.
    auto device = Devices().Find(handle);
    if (!device) {
        return MMSYSERR_INVALHANDLE;
    }
    std::lock_guard lock(device->stateMutex);
    device->started = false;
    return MMSYSERR_NOERROR;
}

MMRESULT Reset(HMIDIIN handle) {
    auto device = Devices().Find(handle);
    if (!device) {
        return MMSYSERR_INVALHANDLE;
    }
    std::lock_guard callbackLock(device->callbackMutex);
    std::deque<MIDIHDR*> returned;
    {
        std::lock_guard lock(device->stateMutex);
        device->started = false;
        returned.swap(device->queued);
        for (MIDIHDR* header : returned) {
            header->dwBytesRecorded = 0;
            header->dwFlags = (header->dwFlags | MHDR_DONE) & ~MHDR_INQUEUE;
        }
    }
    for (MIDIHDR* header : returned) {
        device->Notify(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header), 0);
    }
    return MMSYSERR_NOERROR;
}

UINT MessagesDropped(HMIDIIN handle) {
    auto device = Devices().Find(handle);
    if (!device) {
        return 0;
    }
    std::lock_guard lock(device->stateMutex);
    return device->dropped;
}

}  // namespace platform::midi_in
