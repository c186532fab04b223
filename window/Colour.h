#pragma once
// Colour values as the controls take them: 0x00BBGGRR, with a value that means "the default".
#include <cstdint>

namespace window {

using ColourRef = std::uint32_t;
constexpr ColourRef kDefaultColour = 0xFF000000u;

constexpr ColourRef Rgb(int r, int g, int b) {
  return static_cast<ColourRef>(r & 0xFF) | (static_cast<ColourRef>(g & 0xFF) << 8) |
         (static_cast<ColourRef>(b & 0xFF) << 16);
}

} // namespace window
