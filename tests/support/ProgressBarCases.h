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
    {"set range returns the old ends in 16-bit halves", skin::PBM_SETRANGE, 0, (200 << 16) | 10, (100 << 16) | 0},
    {"32-bit range", skin::PBM_SETRANGE32, 0, 100, (200 << 16) | 10},
    {"lower end", skin::PBM_GETRANGE, 1, 0, 0},
    {"upper end", skin::PBM_GETRANGE, 0, 0, 100},
    {"position above the range is cut", skin::PBM_SETPOS, 150, 0, 0},
    {"the old position comes back", skin::PBM_SETPOS, static_cast<std::uintptr_t>(-5), 0, 100},
    {"below the range is lifted", skin::PBM_GETPOS, 0, 0, 0},
    {"delta", skin::PBM_DELTAPOS, 95, 0, 0},
    {"step wraps past the top", skin::PBM_STEPIT, 0, 0, 95},
    {"after the wrap", skin::PBM_GETPOS, 0, 0, 5},
    {"negative step", skin::PBM_SETSTEP, static_cast<std::uintptr_t>(-10), 0, 10},
    {"step wraps past the bottom", skin::PBM_STEPIT, 0, 0, 5},
    {"after the wrap down", skin::PBM_GETPOS, 0, 0, 95},
    {"setter returns the stored default", skin::PBM_SETBARCOLOR, 0, controller::RGB(1, 2, 3), controller::CLR_DEFAULT},
    {"then the stored colour", skin::PBM_SETBARCOLOR, 0, controller::CLR_DEFAULT, controller::RGB(1, 2, 3)},
    {"percent flag", skin::TPBM_SHOWPERCENT, 0, 0, 1},
    {"alignment", skin::TPBM_SETTEXTALIGN, 2, 0, 1},
    {"marquee size returns the new size", skin::TPBM_SETMARQUEESIZE, 30, 0, 30},
};

} // namespace testsupport
