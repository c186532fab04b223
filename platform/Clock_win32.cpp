#include "platform/Clock.h"

#include <windows.h>
#include <mmsystem.h>

namespace platform {

namespace {

// The multimedia timer at 1 ms for the process's life, so the tick advances in 1 ms steps.
struct TimerResolution {
  TimerResolution() { timeBeginPeriod(1); }
  ~TimerResolution() { timeEndPeriod(1); }
};

} // namespace

std::uint32_t TickCount32() {
  static const TimerResolution resolution;
  // Time asleep does not count (the interrupt time without the suspensions): after a laptop wakes,
  // a transfer is not found silent for the hours it slept, and speeds are of time awake.
  ULONGLONG awake = 0;
  QueryUnbiasedInterruptTime(&awake);
  return static_cast<std::uint32_t>(awake / 10000);
}

LocalTime GetLocalTimeNow() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  LocalTime t;
  t.year = now.wYear;
  t.month = now.wMonth;
  t.day = now.wDay;
  t.hour = now.wHour;
  t.minute = now.wMinute;
  t.second = now.wSecond;
  t.millisecond = now.wMilliseconds;
  return t;
}

} // namespace platform
