#include "qtui/SkinImages.h"

#include <QPainter>
#include <QSvgRenderer>

static void InitSkinResources() { Q_INIT_RESOURCE(skin); }

namespace qtui {

namespace {

QImage Render(const QString& path, qreal ratio, QSize size = {}) {
  InitSkinResources();
  QSvgRenderer renderer(path);
  if (!renderer.isValid()) return {};
  if (size.isEmpty()) size = renderer.defaultSize();
  QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  renderer.render(&painter);
  painter.end();
  image.setDevicePixelRatio(ratio);
  return image;
}

} // namespace

QImage LoadSkinImage(unsigned id, qreal ratio) {
  if (id == 0) return {};
  return Render(QStringLiteral(":/skin/%1.svg").arg(id), ratio);
}

QIcon LoadAppIcon() {
  QIcon icon;
  for (int size : {256, 128, 64, 48, 32, 16})
    icon.addPixmap(QPixmap::fromImage(Render(QStringLiteral(":/skin/icon.svg"), 1.0, QSize(size, size))));
  return icon;
}

} // namespace qtui
