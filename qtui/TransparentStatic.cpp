#include "qtui/TransparentStatic.h"

#include <QMouseEvent>
#include <QPainter>

namespace qtui {

CTransparentStatic::CTransparentStatic(QWidget* parent, int id, const QString& text, bool notify, bool endEllipsis)
    : QWidget(parent), m_nId(id), m_strText(text), m_bEndEllipsis(endEllipsis) {
  setAttribute(Qt::WA_TransparentForMouseEvents, !notify);
  setFocusPolicy(Qt::NoFocus);
  if (notify) setCursor(Qt::PointingHandCursor);
}

void CTransparentStatic::SetTextColor(ColourRef colour) {
  m_crText = colour;
  repaint();
}

void CTransparentStatic::SetWindowText(const QString& text) {
  if (text == m_strText) return;
  m_strText = text;
  update();
}

void CTransparentStatic::paintEvent(QPaintEvent*) {
  // No background: the parent's pixels beneath are composed under the text, so an old text
  // leaves no trace when a new one is drawn.
  QPainter painter(this);
  painter.setPen(ToQColor(m_crText));
  const QFontMetrics metrics(font());
  // One line, left-aligned; the path label ends in an ellipsis when it does not fit.
  QString text = m_strText.section(QLatin1Char('\n'), 0, 0);
  if (m_bEndEllipsis) text = metrics.elidedText(text, Qt::ElideRight, width());
  painter.drawText(QRect(0, 0, width(), height()), Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}

void CTransparentStatic::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
  QWidget::mouseReleaseEvent(event);
}

} // namespace qtui
