// The reading end of a test: opens an input device the way MidiInPort does (one buffer, queued
// again from inside the callback) and records what the callback hands over.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/mmsystem.h"

class MidiReceiver {
  public:
    explicit MidiReceiver(DWORD bufferBytes = 8192, int buffers = 1);
    ~MidiReceiver();

    MMRESULT Open(UINT device);
    // Queues every buffer and starts input.
    MMRESULT Start();
    // Reset, unprepare and close, as MidiInPort::Stop does.
    MMRESULT Close();

    // Long entries as the callback saw them (non-empty ones only) and packed short messages.
    std::vector<std::vector<std::uint8_t>> Long();
    std::vector<DWORD> Short();
    int EmptyReturns();
    int Opens();
    int Closes();
    bool CallbacksOverlapped() const { return m_overlap.load(); }
    std::thread::id LastEmptyReturnThread();

    // Waits (10 s at most) until this many long entries / short messages arrived.
    bool WaitForLong(std::size_t count);
    bool WaitForShort(std::size_t count);

    HMIDIIN Handle() const { return m_handle; }
    MIDIHDR& Header(int i) { return m_headers[i]; }
    void SetRequeue(bool requeue) { m_requeue = requeue; }

    static void CALLBACK Callback(HMIDIIN handle, UINT message, DWORD_PTR instance,
                                  DWORD_PTR param1, DWORD_PTR param2);

  private:
    void OnMessage(HMIDIIN handle, UINT message, DWORD_PTR param1);
    template <typename Pred>
    bool WaitUntil(Pred pred);

    HMIDIIN m_handle = nullptr;
    std::vector<std::vector<char>> m_data;
    std::vector<MIDIHDR> m_headers;
    std::atomic<bool> m_requeue{true};
    std::atomic<bool> m_inside{false};
    std::atomic<bool> m_overlap{false};

    std::mutex m_mutex;
    std::condition_variable m_arrived;
    std::vector<std::vector<std::uint8_t>> m_long;
    std::vector<DWORD> m_short;
    int m_emptyReturns = 0;
    int m_opens = 0;
    int m_closes = 0;
    std::thread::id m_emptyReturnThread;
};

std::vector<std::uint8_t> MakeSysEx(std::size_t length, std::uint8_t seed);

// Sizes and first and last bytes of each message, for failure messages that stay readable.
std::string Describe(const std::vector<std::vector<std::uint8_t>>& messages);
