// The process heap and pauses.
#pragma once

#include <cstddef>

#include "platform/mmsystem.h"

namespace platform {

void* HeapAllocate(DWORD flags, std::size_t bytes);
BOOL HeapRelease(void* memory);
// Sleep(0) gives up the rest of the time slice, as it does elsewhere.
void SleepFor(DWORD milliseconds);

}  // namespace platform
