#include "qtui/BitmapButtonEx.h"

#include <QFocusEvent>
#include <QPainter>

#include "qtui/SkinImages.h"

namespace qtui {

CBitmapButtonEx::CBitmapButtonEx(QWidget* parent, int id) : QAbstractButton(parent), m_nId(id) {
  // Focus by the keyboard only, as Windows shows focus cues only once the keyboard is used.
  setFocusPolicy(Qt::TabFocus);
  setAttribute(Qt::WA_NoSystemBackground);
}

bool CBitmapButtonEx::LoadBitmaps(unsigned normal, unsigned selected, unsigned focus, unsigned disabled, qreal ratio) {
  if (ratio <= 0) ratio = devicePixelRatioF();
  m_bmpNormal = m_bmpSelected = m_bmpFocus = m_bmpDisabled = QImage();
  m_bmpNormal = LoadSkinImage(normal, ratio);
  if (m_bmpNormal.isNull()) return false;
  bool ok = true;
  auto load = [&](unsigned id, QImage& into) {
    if (id == 0) return;
    into = LoadSkinImage(id, ratio);
    ok = ok && !into.isNull();
  };
  load(selected, m_bmpSelected);
  load(focus, m_bmpFocus);
  load(disabled, m_bmpDisabled);
  update();
  return ok;
}

void CBitmapButtonEx::SetImages(const QImage& normal, const QImage& selected, const QImage& focus,
                                const QImage& disabled) {
  m_bmpNormal = normal;
  m_bmpSelected = selected;
  m_bmpFocus = focus;
  m_bmpDisabled = disabled;
  update();
}

void CBitmapButtonEx::SizeToContent() {
  if (!m_bmpNormal.isNull()) resize(m_bmpNormal.deviceIndependentSize().toSize());
}

QSize CBitmapButtonEx::sizeHint() const { return m_bmpNormal.deviceIndependentSize().toSize(); }

void CBitmapButtonEx::SetHoverImage(unsigned id, qreal ratio) {
  m_nHoverImageId = id;
  if (id != 0) m_bmpHover = LoadSkinImage(id, ratio > 0 ? ratio : devicePixelRatioF());
}

void CBitmapButtonEx::SetKeyColor(ColourRef key) { m_crKey = key; }

const QImage& CBitmapButtonEx::ChosenImage() const {
  const QImage* chosen = &m_bmpNormal;
  if (isDown() && !m_bmpSelected.isNull()) chosen = &m_bmpSelected;
  else if (hasFocus() && !m_bmpFocus.isNull()) chosen = &m_bmpFocus;
  else if (!isEnabled() && !m_bmpDisabled.isNull()) chosen = &m_bmpDisabled;
  // Qt tells a disabled button of the pointer too; it must not look usable.
  if (m_bMouseOver && isEnabled() && !m_bmpHover.isNull()) chosen = &m_bmpHover;
  return *chosen;
}

void CBitmapButtonEx::focusInEvent(QFocusEvent* event) {
  // Shown once the keyboard moves the focus, as the system's own dialogs do.
  m_bKeyboardFocus = event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
  QAbstractButton::focusInEvent(event);
}

void CBitmapButtonEx::paintEvent(QPaintEvent*) {
  ++m_nPaints;
  const QImage& image = ChosenImage();
  if (image.isNull()) return;  // nothing applies: the pixels beneath stay
  QPainter painter(this);
  DrawBitmapTransparent(painter, image, 0, 0, m_crKey);
  if (hasFocus() && m_bKeyboardFocus) {
    // The keyboard's focus: a dotted rectangle inside the edge, as the system draws it.
    painter.setPen(QPen(Qt::white, 1, Qt::DotLine));
    painter.drawRect(rect().adjusted(2, 2, -3, -3));
  }
}

void CBitmapButtonEx::enterEvent(QEnterEvent* event) {
  if (!m_bMouseOver) {
    m_bMouseOver = true;
    update();
  }
  QAbstractButton::enterEvent(event);
}

void CBitmapButtonEx::leaveEvent(QEvent* event) {
  m_bMouseOver = false;
  update();
  QAbstractButton::leaveEvent(event);
}

void DrawBitmapTransparent(QPainter& painter, const QImage& image, int x, int y, ColourRef key) {
  if (image.isNull()) return;
  // Pixels of exactly the key colour become fully transparent; every other pixel is opaque.
  QImage keyed = image.convertToFormat(QImage::Format_ARGB32);
  const QRgb keyRgb = qRgb(key & 0xFF, (key >> 8) & 0xFF, (key >> 16) & 0xFF) & 0x00FFFFFF;
  for (int row = 0; row < keyed.height(); ++row) {
    auto* line = reinterpret_cast<QRgb*>(keyed.scanLine(row));
    for (int col = 0; col < keyed.width(); ++col) {
      if ((line[col] & 0x00FFFFFF) == keyRgb) line[col] = 0;
      else line[col] |= 0xFF000000;
    }
  }
  painter.drawImage(QPoint(x, y), keyed);
}

} // namespace qtui
