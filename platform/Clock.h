#pragma once
// Millisecond tick and local wall-clock time.
#include <cstdint>

namespace platform {

// Monotonic milliseconds truncated to 32 bits: it wraps, so differences of two ticks are taken in
// unsigned 32-bit arithmetic. Time the machine spent asleep is not counted (CLOCK_MONOTONIC on
// Linux, the unbiased interrupt time on Windows), so a time-out measures only silence while awake.
std::uint32_t TickCount32();

struct LocalTime {
  int year = 0;
  int month = 0;  // 1..12
  int day = 0;    // 1..31
  int hour = 0;   // 0..23
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

LocalTime GetLocalTimeNow();

} // namespace platform
