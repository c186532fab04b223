#pragma once
// The small vocabulary the skinned controls share with their callers: colour values in the
// 0x00BBGGRR layout, control messages and styles.
#include <cstdint>

#include <QColor>

#include "controller/Colour.h"
#include "controller/ControlIds.h"

namespace ui {

// The controller's vocabulary: control ids and colour values.
using namespace controller;

inline QColor ToQColor(COLORREF c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
inline COLORREF FromQColor(const QColor& c) { return RGB(c.red(), c.green(), c.blue()); }

} // namespace ui
