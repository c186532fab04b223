#pragma once
// The small vocabulary the skinned controls share with their callers: colour values in the
// 0x00BBGGRR layout, control messages and styles.
#include <cstdint>

#include <QColor>

namespace ui {

using COLORREF = std::uint32_t;
constexpr COLORREF CLR_DEFAULT = 0xFF000000u;

constexpr COLORREF RGB(int r, int g, int b) {
  return static_cast<COLORREF>(r & 0xFF) | (static_cast<COLORREF>(g & 0xFF) << 8) |
         (static_cast<COLORREF>(b & 0xFF) << 16);
}
inline QColor ToQColor(COLORREF c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
inline COLORREF FromQColor(const QColor& c) { return RGB(c.red(), c.green(), c.blue()); }

} // namespace ui
