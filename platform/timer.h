// Periodic timer events behind timeSetEvent: one thread per event, ticking on absolute
// deadlines. A tick that overran its period is not made up for: the next one comes on the
// next deadline still ahead, so ticks never overlap and never bunch up.
#pragma once

#include <chrono>

#include "platform/mmsystem.h"

namespace platform::timer {

constexpr UINT kPeriodMin = 1;
constexpr UINT kPeriodMax = 1000000;

MMRESULT GetDevCaps(TIMECAPS* caps, UINT size);
MMRESULT BeginPeriod(UINT period);
MMRESULT EndPeriod(UINT period);
UINT SetEvent(UINT delay, UINT resolution, LPTIMECALLBACK callback, DWORD_PTR user, UINT flags);
MMRESULT KillEvent(UINT id);

// The deadline after a tick that was due at `due` and returned at `now`: one period on, or, when
// that has passed too, the first deadline of the same phase still ahead of `now`.
std::chrono::steady_clock::time_point NextDeadline(std::chrono::steady_clock::time_point due,
                                                   std::chrono::steady_clock::time_point now,
                                                   std::chrono::steady_clock::duration period);

}  // namespace platform::timer

// Resolution requests (timeBeginPeriod not yet ended), over all period values.
int TimerPeriodRequestsHeld();
