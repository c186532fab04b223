#pragma once
// The window's artwork, kept as SVG sources and rendered at the screen's pixel density.
#include <QIcon>
#include <QImage>

namespace qtui {

// Image id (131..155) rendered at its natural size times ratio; a null image when there is none.
QImage LoadSkinImage(unsigned id, qreal ratio = 1.0);
// The application icon in sizes 256 down to 16 pixels.
QIcon LoadAppIcon();

} // namespace qtui
