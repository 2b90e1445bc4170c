#include "midi_receiver.h"

#include <cstdio>
#include <cstring>

MidiReceiver::MidiReceiver(DWORD bufferBytes, int buffers)
    : m_data(buffers, std::vector<char>(bufferBytes)), m_headers(buffers) {
    for (int i = 0; i < buffers; ++i) {
        std::memset(&m_headers[i], 0, sizeof(MIDIHDR));
        m_headers[i].lpData = m_data[i].data();
        m_headers[i].dwBufferLength = bufferBytes;
    }
}

MidiReceiver::~MidiReceiver() {
    if (m_handle != nullptr) {
        Close();
    }
}

MMRESULT MidiReceiver::Open(UINT device) {
    return midiInOpen(&m_handle, device, reinterpret_cast<DWORD_PTR>(&Callback),
                      reinterpret_cast<DWORD_PTR>(this), CALLBACK_FUNCTION);
}

MMRESULT MidiReceiver::Start() {
    for (auto& header : m_headers) {
        if (MMRESULT r = midiInPrepareHeader(m_handle, &header, sizeof(MIDIHDR)); r != 0) {
            return r;
        }
        if (MMRESULT r = midiInAddBuffer(m_handle, &header, sizeof(MIDIHDR)); r != 0) {
            return r;
        }
    }
    return midiInStart(m_handle);
}

MMRESULT MidiReceiver::Close() {
    m_requeue = false;
    MMRESULT result = midiInStop(m_handle);
    if (result == 0) {
        result = midiInReset(m_handle);
    }
    for (auto& header : m_headers) {
        if (result == 0) {
            result = midiInUnprepareHeader(m_handle, &header, sizeof(MIDIHDR));
        }
    }
    if (result == 0) {
        result = midiInClose(m_handle);
    }
    if (result == 0) {
        m_handle = nullptr;
    }
    return result;
}

void CALLBACK MidiReceiver::Callback(HMIDIIN handle, UINT message, DWORD_PTR instance,
                                     DWORD_PTR param1, DWORD_PTR) {
    auto* self = reinterpret_cast<MidiReceiver*>(instance);
    if (self->m_inside.exchange(true)) {
        self->m_overlap = true;
    }
    self->OnMessage(handle, message, param1);
    self->m_inside = false;
}

void MidiReceiver::OnMessage(HMIDIIN handle, UINT message, DWORD_PTR param1) {
    std::unique_lock lock(m_mutex);
    switch (message) {
        case MIM_OPEN:
            ++m_opens;
            break;
        case MIM_CLOSE:
            ++m_closes;
            break;
        case MIM_DATA:
            m_short.push_back(static_cast<DWORD>(param1));
            break;
        case MIM_LONGDATA: {
            auto* header = reinterpret_cast<MIDIHDR*>(param1);
            if ((header->dwFlags & MHDR_DONE) == 0 || header->dwBytesRecorded == 0) {
                ++m_emptyReturns;
                m_emptyReturnThread = std::this_thread::get_id();
                break;
            }
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(header->lpData);
            m_long.emplace_back(bytes, bytes + header->dwBytesRecorded);
            lock.unlock();
            if (m_requeue) {
                midiInPrepareHeader(handle, header, sizeof(MIDIHDR));
                midiInAddBuffer(handle, header, sizeof(MIDIHDR));
            }
            lock.lock();
            break;
        }
        default:
            break;
    }
    m_arrived.notify_all();
}

template <typename Pred>
bool MidiReceiver::WaitUntil(Pred pred) {
    std::unique_lock lock(m_mutex);
    return m_arrived.wait_for(lock, std::chrono::seconds(10), pred);
}

bool MidiReceiver::WaitForLong(std::size_t count) {
    return WaitUntil([&] { return m_long.size() >= count; });
}

bool MidiReceiver::WaitForShort(std::size_t count) {
    return WaitUntil([&] { return m_short.size() >= count; });
}

std::vector<std::vector<std::uint8_t>> MidiReceiver::Long() {
    std::lock_guard lock(m_mutex);
    return m_long;
}

std::vector<DWORD> MidiReceiver::Short() {
    std::lock_guard lock(m_mutex);
    return m_short;
}

int MidiReceiver::EmptyReturns() {
    std::lock_guard lock(m_mutex);
    return m_emptyReturns;
}

int MidiReceiver::Opens() {
    std::lock_guard lock(m_mutex);
    return m_opens;
}

int MidiReceiver::Closes() {
    std::lock_guard lock(m_mutex);
    return m_closes;
}

std::thread::id MidiReceiver::LastEmptyReturnThread() {
    std::lock_guard lock(m_mutex);
    return m_emptyReturnThread;
}

std::vector<std::uint8_t> MakeSysEx(std::size_t length, std::uint8_t seed) {
    std::vector<std::uint8_t> message(length);
    message.front() = 0xF0;
    for (std::size_t i = 1; i + 1 < length; ++i) {
        message[i] = static_cast<std::uint8_t>((seed + i * 7) & 0x7F);
    }
    message.back() = 0xF7;
    return message;
}

std::string Describe(const std::vector<std::vector<std::uint8_t>>& messages) {
    std::string text;
    for (const auto& message : messages) {
        char line[64];
        std::snprintf(line, sizeof line, "[%zu bytes %02X %02X..%02X] ", message.size(),
                      message.empty() ? 0 : message.front(), message.size() < 2 ? 0 : message[1],
                      message.empty() ? 0 : message.back());
        text += line;
    }
    return text;
}
