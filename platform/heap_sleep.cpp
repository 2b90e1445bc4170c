#include "platform/heap_sleep.h"

#include <chrono>
#include <cstdlib>
#include <thread>

namespace platform {

void* HeapAllocate(DWORD flags, std::size_t bytes) {
    // A zero-byte block is still a distinct block that can be freed.
    const std::size_t size = bytes == 0 ? 1 : bytes;
    return (flags & HEAP_ZERO_MEMORY) != 0 ? std::calloc(1, size) : std::malloc(size);
}

BOOL HeapRelease(void* memory) {
    std::free(memory);
    return 1;
}

void SleepFor(DWORD milliseconds) {
    if (milliseconds == 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

}  // namespace platform
