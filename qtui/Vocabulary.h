#pragma once
// The small vocabulary the skinned controls share with their callers: colour values in the
// 0x00BBGGRR layout, control messages and styles.
#include <cstdint>

#include <QColor>

#include "window/Colour.h"
#include "window/ControlIds.h"

namespace qtui {

// The window's vocabulary: control ids and colour values.
using namespace window;

inline QColor ToQColor(ColourRef c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }
inline ColourRef FromQColor(const QColor& c) { return Rgb(c.red(), c.green(), c.blue()); }

} // namespace qtui
