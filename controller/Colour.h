#pragma once
// Colour values as the controls take them: 0x00BBGGRR, with a value that means "the default".
#include <cstdint>

namespace controller {

using COLORREF = std::uint32_t;
constexpr COLORREF CLR_DEFAULT = 0xFF000000u;

constexpr COLORREF RGB(int r, int g, int b) {
  return static_cast<COLORREF>(r & 0xFF) | (static_cast<COLORREF>(g & 0xFF) << 8) |
         (static_cast<COLORREF>(b & 0xFF) << 16);
}

} // namespace controller
