#include "qtui/TextProgressCtrl.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTimerEvent>

#include "qtui/MemoryDC.h"

namespace qtui {

namespace {

QRect ToQRect(const Rect& r) { return QRect(r.left, r.top, r.Width(), r.Height()); }

} // namespace

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent, int id, std::uint32_t style)
    : QWidget(parent), m_nId(id), m_state(style) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
}

void CTextProgressCtrl::SetWindowText(const QString& text) {
  m_strText = text;
  repaint();
}

QString CTextProgressCtrl::BarText() const {
  return QString::fromStdU16String(m_state.Text(m_strText.toStdU16String()));
}

SystemColours CTextProgressCtrl::System() const {
  const QPalette& p = palette();
  return {FromQColor(p.color(QPalette::Highlight)), FromQColor(p.color(QPalette::Button)),
          FromQColor(p.color(QPalette::WindowText)), FromQColor(p.color(QPalette::Base))};
}

std::intptr_t CTextProgressCtrl::SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  MessageEffect effect;
  const std::intptr_t result = m_state.Handle(message, wParam, lParam, System(), effect);
  if (effect.marqueeChanged) {
    if (m_state.MarqueeIntervalMs() > 0) m_marqueeTimer.start(m_state.MarqueeIntervalMs(), this);
    else m_marqueeTimer.stop();
  }
  // Coalesced: many positions between two frames paint once.
  if (effect.repaint) update();
  return result;
}

void CTextProgressCtrl::timerEvent(QTimerEvent* event) {
  if (event->timerId() == m_marqueeTimer.timerId()) SendMessage(kTimerMessage, MARQUEE_TIMER_ID, 0);
  else QWidget::timerEvent(event);
}

void CTextProgressCtrl::mousePressEvent(QMouseEvent* event) { event->accept(); }

void CTextProgressCtrl::paintEvent(QPaintEvent* event) {
  // An empty or inverted range paints nothing; the request is still completed.
  if (!m_state.HasRange()) return;
  QPainter screen(this);
  CMemoryDC dc(screen, event->rect(), palette().color(QPalette::Button));
  QPainter& painter = dc.painter();
  const SystemColours system = System();

  // A flat sunken frame, 2 pixels on every side.
  Rect rc{0, 0, width(), height()};
  painter.fillRect(ToQRect(rc), ToQColor(kFrameOuter));
  painter.fillRect(QRect(1, 1, rc.Width() - 2, rc.Height() - 2), ToQColor(kFrameInner));
  rc = {rc.left + 2, rc.top + 2, rc.right - 2, rc.bottom - 2};
  if (rc.Width() <= 0 || rc.Height() <= 0) return;

  const BarGeometry g = m_state.Geometry(rc);
  const QColor back = ToQColor(m_state.BackColour(system));
  if (g.drawBefore) painter.fillRect(ToQRect(g.before), back);
  painter.fillRect(ToQRect(g.bar), ToQColor(m_state.BarColour(system)));
  if (g.drawAfter) painter.fillRect(ToQRect(g.after), back);

  const QString label = BarText();
  if (label.isEmpty()) return;
  const QFontMetrics metrics(painter.font());
  int x = 0, y = 0;
  m_state.TextOrigin(rc, metrics.horizontalAdvance(label), metrics.height(), x, y);
  const bool vertical = m_state.IsVertical();
  auto drawClipped = [&](const Rect& clip, ColourRef colour) {
    painter.save();
    painter.setClipRect(ToQRect(clip).intersected(ToQRect(rc)));
    painter.setPen(ToQColor(colour));
    if (vertical) {
      // The text runs upward from (x, y): its top edge faces left.
      painter.translate(x, y);
      painter.rotate(-90);
      painter.drawText(QPoint(0, metrics.ascent()), label);
    } else {
      painter.drawText(QPoint(x, y + metrics.ascent()), label);
    }
    painter.restore();
  };
  if (g.drawBefore) drawClipped(g.before, m_state.TextColour(system));
  drawClipped(g.bar, m_state.TextOnBarColour(system));
  if (g.drawAfter) drawClipped(g.after, m_state.TextColour(system));
}

} // namespace qtui
