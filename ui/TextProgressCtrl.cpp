#include "ui/TextProgressCtrl.h"

#include <algorithm>

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QTimerEvent>

#include "ui/MemoryDC.h"

namespace ui {

int CTextProgressCtrl::s_nMarqueeDirection = 1;

namespace {

std::intptr_t PackRange(std::int32_t low, std::int32_t high) {
  return static_cast<std::intptr_t>((static_cast<std::uint32_t>(low) & 0xFFFF) |
                                    ((static_cast<std::uint32_t>(high) & 0xFFFF) << 16));
}

// Window-style rectangle: right and bottom are one past the last pixel.
struct Rect {
  int left, top, right, bottom;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  QRect ToQRect() const { return QRect(left, top, right - left, bottom - top); }
};

} // namespace

CTextProgressCtrl::CTextProgressCtrl(QWidget* parent, int id, std::uint32_t style)
    : QWidget(parent), m_nId(id), m_dwStyle(style) {
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
}

void CTextProgressCtrl::SetWindowText(const QString& text) {
  m_strText = text;
  Repaint();
}

QString CTextProgressCtrl::BarText() const {
  if (m_bPercentText == 0 || m_nLower >= m_nUpper) return m_strText;
  const double f = static_cast<double>(m_nPosition - m_nLower) / static_cast<double>(m_nUpper - m_nLower);
  return QStringLiteral("%1%").arg(static_cast<int>(f * 100.0 + 0.5));
}

int CTextProgressCtrl::MarqueeLimit() const {
  return static_cast<int>(((m_nMarqueePercent + 100.0) * m_nUpper + 0.5) / 100.0);
}

COLORREF CTextProgressCtrl::Effective(COLORREF stored, COLORREF system) const {
  return stored == CLR_DEFAULT ? system : stored;
}

void CTextProgressCtrl::Repaint() { repaint(); }

template <typename T>
std::intptr_t CTextProgressCtrl::StoreAndRepaint(T& field, T value) {
  const T old = field;
  field = value;
  Repaint();
  return static_cast<std::intptr_t>(old);
}

std::intptr_t CTextProgressCtrl::SetPos(std::int32_t position) {
  const std::int32_t old = m_nPosition;
  m_nPosition = position;
  if (m_nPosition < m_nLower) m_nPosition = m_nLower;
  const std::int32_t upper = (m_dwStyle & PBS_MARQUEE) ? MarqueeLimit() : m_nUpper;
  if (m_nPosition > upper) m_nPosition = upper;
  Repaint();
  return old;
}

std::intptr_t CTextProgressCtrl::SendMessage(unsigned message, std::uintptr_t wParam, std::intptr_t lParam) {
  const QPalette& p = palette();
  switch (message) {
    case PBM_SETRANGE: {
      const std::intptr_t old = PackRange(m_nLower, m_nUpper);
      m_nLower = static_cast<std::int32_t>(lParam & 0xFFFF);
      m_nUpper = static_cast<std::int32_t>((lParam >> 16) & 0xFFFF);
      return old;
    }
    case PBM_SETRANGE32: {
      const std::intptr_t old = PackRange(m_nLower, m_nUpper);
      m_nLower = static_cast<std::int32_t>(wParam);
      m_nUpper = static_cast<std::int32_t>(lParam);
      return old;
    }
    case PBM_SETPOS: return SetPos(static_cast<std::int32_t>(wParam));
    case PBM_DELTAPOS: return SetPos(m_nPosition + static_cast<std::int32_t>(wParam));
    case PBM_SETSTEP: {
      const std::int32_t old = m_nStep;
      m_nStep = static_cast<std::int32_t>(wParam);
      return old;
    }
    case PBM_STEPIT: {
      std::int32_t next = m_nPosition + m_nStep;
      if (next < m_nLower) next = m_nUpper - (m_nLower - next);
      else if (next > m_nUpper) next = m_nLower + (next - m_nUpper);
      return SetPos(next);
    }
    case PBM_GETRANGE: {
      if (lParam != 0) {
        auto* range = reinterpret_cast<PBRANGE*>(lParam);
        range->iLow = m_nLower;
        range->iHigh = m_nUpper;
      }
      return wParam != 0 ? m_nLower : m_nUpper;
    }
    case PBM_GETPOS: return m_nPosition;
    case PBM_SETBARCOLOR: return StoreAndRepaint(m_crBar, static_cast<COLORREF>(lParam));
    case PBM_SETBKCOLOR: return StoreAndRepaint(m_crBack, static_cast<COLORREF>(lParam));
    case PBM_SETMARQUEE: {
      m_bPercentText = 0;
      if (wParam != 0) {
        m_dwStyle |= PBS_MARQUEE;
        // As with a window timer, an interval below the minimum (0 among them) gets the minimum,
        // never a busy loop.
        m_nMarqueeIntervalMs = std::max(static_cast<int>(lParam), USER_TIMER_MINIMUM);
        m_marqueeTimer.start(m_nMarqueeIntervalMs, this);
      } else {
        m_marqueeTimer.stop();
        m_dwStyle &= ~PBS_MARQUEE;
      }
      Repaint();
      return static_cast<std::intptr_t>(wParam);
    }
    case PBM_GETBKCOLOR: return Effective(m_crBack, FromQColor(p.color(QPalette::Button)));
    case PBM_GETBARCOLOR: return Effective(m_crBar, FromQColor(p.color(QPalette::Highlight)));
    case TPBM_SETTEXTCOLOR: return StoreAndRepaint(m_crText, static_cast<COLORREF>(lParam));
    case TPBM_GETTEXTCOLOR: return Effective(m_crText, FromQColor(p.color(QPalette::WindowText)));
    case TPBM_SETBARTEXTCOLOR: return StoreAndRepaint(m_crTextOnBar, static_cast<COLORREF>(lParam));
    case TPBM_GETBARTEXTCOLOR: return Effective(m_crTextOnBar, FromQColor(p.color(QPalette::Base)));
    case TPBM_SHOWPERCENT: return StoreAndRepaint(m_bPercentText, static_cast<std::int32_t>(wParam));
    case TPBM_SETTEXTALIGN: return StoreAndRepaint(m_nTextAlign, static_cast<std::int32_t>(wParam));
    case TPBM_SETMARQUEESIZE: {
      m_nMarqueePercent = static_cast<std::int32_t>(wParam);
      Repaint();
      return m_nMarqueePercent;
    }
    case WM_TIMER: {
      if (wParam != MARQUEE_TIMER_ID) return 0;
      const std::int32_t position = m_nPosition;
      if (s_nMarqueeDirection == 1 && position >= MarqueeLimit()) s_nMarqueeDirection = -1;
      else if (s_nMarqueeDirection == -1 && position <= m_nLower) s_nMarqueeDirection = 1;
      SetPos(position + s_nMarqueeDirection);
      return 0;
    }
    default: return 0;
  }
}

void CTextProgressCtrl::timerEvent(QTimerEvent* event) {
  if (event->timerId() == m_marqueeTimer.timerId()) SendMessage(WM_TIMER, MARQUEE_TIMER_ID, 0);
  else QWidget::timerEvent(event);
}

void CTextProgressCtrl::mousePressEvent(QMouseEvent* event) { event->accept(); }

void CTextProgressCtrl::paintEvent(QPaintEvent* event) {
  // An empty or inverted range paints nothing; the request is still completed.
  if (m_nLower >= m_nUpper) return;
  QPainter screen(this);
  CMemoryDC dc(screen, event->rect(), palette().color(QPalette::Button));
  QPainter& painter = dc.painter();
  const QPalette& p = palette();
  const QColor bar = ToQColor(Effective(m_crBar, FromQColor(p.color(QPalette::Highlight))));
  const QColor back = ToQColor(Effective(m_crBack, FromQColor(p.color(QPalette::Button))));
  const QColor text = ToQColor(Effective(m_crText, FromQColor(p.color(QPalette::WindowText))));
  const QColor textOnBar = ToQColor(Effective(m_crTextOnBar, FromQColor(p.color(QPalette::Base))));

  // A flat sunken frame, 2 pixels on every side.
  Rect rc{0, 0, width(), height()};
  painter.fillRect(rc.ToQRect(), QColor(72, 72, 72));
  painter.fillRect(QRect(1, 1, rc.Width() - 2, rc.Height() - 2), QColor(24, 24, 24));
  rc = {rc.left + 2, rc.top + 2, rc.right - 2, rc.bottom - 2};
  if (rc.Width() <= 0 || rc.Height() <= 0) return;

  const double f = static_cast<double>(m_nPosition - m_nLower) / static_cast<double>(m_nUpper - m_nLower);
  Rect barRect = rc, before = rc, after = rc;
  bool drawBefore = true, drawAfter = true;
  const bool vertical = (m_dwStyle & PBS_VERTICAL) != 0;
  if (m_dwStyle & PBS_MARQUEE) {
    const int length = vertical ? rc.Height() : rc.Width();
    const int seg = (length * m_nMarqueePercent + 50) / 100;
    if (!vertical) {
      const int lead = rc.left + static_cast<int>(rc.Width() * f);
      barRect.left = lead - seg;
      barRect.right = lead;
      if (lead - seg > rc.left) before.right = lead - seg;
      else { drawBefore = false; barRect.left = rc.left; }
      if (lead < rc.right) after.left = lead;
      else { drawAfter = false; barRect.right = rc.right; }
    } else {
      const int top = rc.bottom - static_cast<int>(rc.Height() * f);
      barRect.top = top;
      barRect.bottom = top + seg;
      if (top + seg < rc.bottom) before.top = top + seg;
      else { drawBefore = false; barRect.bottom = rc.bottom; }
      if (top > rc.top) after.bottom = top;
      else { drawAfter = false; barRect.top = rc.top; }
    }
    if (drawBefore) painter.fillRect(before.ToQRect(), back);
  } else {
    drawBefore = false;
    if (!vertical) {
      barRect.right = rc.left + static_cast<int>(rc.Width() * f);
      after.left = barRect.right;
    } else {
      barRect.top = rc.bottom - static_cast<int>(rc.Height() * f);
      after.bottom = barRect.top;
    }
  }
  painter.fillRect(barRect.ToQRect(), bar);
  if (drawAfter) painter.fillRect(after.ToQRect(), back);

  const QString label = BarText();
  if (label.isEmpty()) return;
  const QFontMetrics metrics(painter.font());
  const int cx = metrics.horizontalAdvance(label);
  const int cy = metrics.height();
  int x, y;
  if (vertical) {
    x = rc.left + (rc.right - cy - rc.left) / 2;
    if (m_nTextAlign == 0) y = rc.bottom - 3;
    else if (m_nTextAlign == 2) y = rc.top + 2 + cx;
    else y = rc.top + cx + (rc.bottom - cx - rc.top) / 2;
  } else {
    if (m_nTextAlign == 0) x = rc.left + 2;
    else if (m_nTextAlign == 2) x = rc.right - cx - 3;
    else x = rc.left + (rc.right - cx - rc.left) / 2;
    y = rc.top + (rc.bottom - cy - rc.top) / 2;
  }
  auto drawClipped = [&](const Rect& clip, const QColor& colour) {
    painter.save();
    painter.setClipRect(clip.ToQRect().intersected(rc.ToQRect()));
    painter.setPen(colour);
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
  if (drawBefore) drawClipped(before, text);
  drawClipped(barRect, textOnBar);
  if (drawAfter) drawClipped(after, text);
}

} // namespace ui
