#pragma once
// The progress bar's messages and their answers, in order, walked through every window's bar.
#include <cstdint>

#include "skin/ProgressBarState.h"

namespace testsupport {

struct BarMessageCase {
  const char* name;
  unsigned message;
  std::uintptr_t wParam;
  std::intptr_t lParam;
  std::intptr_t result;
};

inline constexpr BarMessageCase kBarMessageCases[] = {
    {"set range returns the old ends in 16-bit halves", skin::kBarSetRange, 0, (200 << 16) | 10, (100 << 16) | 0},
    {"32-bit range", skin::kBarSetRange32, 0, 100, (200 << 16) | 10},
    {"lower end", skin::kBarGetRange, 1, 0, 0},
    {"upper end", skin::kBarGetRange, 0, 0, 100},
    {"position above the range is cut", skin::kBarSetPos, 150, 0, 0},
    {"the old position comes back", skin::kBarSetPos, static_cast<std::uintptr_t>(-5), 0, 100},
    {"below the range is lifted", skin::kBarGetPos, 0, 0, 0},
    {"delta", skin::kBarDeltaPos, 95, 0, 0},
    {"step wraps past the top", skin::kBarStepIt, 0, 0, 95},
    {"after the wrap", skin::kBarGetPos, 0, 0, 5},
    {"negative step", skin::kBarSetStep, static_cast<std::uintptr_t>(-10), 0, 10},
    {"step wraps past the bottom", skin::kBarStepIt, 0, 0, 5},
    {"after the wrap down", skin::kBarGetPos, 0, 0, 95},
    {"setter returns the stored default", skin::kBarSetBarColour, 0, window::Rgb(1, 2, 3), window::kDefaultColour},
    {"then the stored colour", skin::kBarSetBarColour, 0, window::kDefaultColour, window::Rgb(1, 2, 3)},
    {"percent flag", skin::TPBM_SHOWPERCENT, 0, 0, 1},
    {"alignment", skin::TPBM_SETTEXTALIGN, 2, 0, 1},
    {"marquee size returns the new size", skin::TPBM_SETMARQUEESIZE, 30, 0, 30},
};

} // namespace testsupport
