#include "skin/ProgressBarState.h"

#include <algorithm>

#include "core/Format.h"

namespace skin {

int CProgressBarState::s_nMarqueeDirection = 1;

namespace {

std::intptr_t PackRange(std::int32_t low, std::int32_t high) {
  return static_cast<std::intptr_t>((static_cast<std::uint32_t>(low) & 0xFFFF) |
                                    ((static_cast<std::uint32_t>(high) & 0xFFFF) << 16));
}

template <typename T>
std::intptr_t Store(T& field, T value, MessageEffect& effect) {
  const T old = field;
  field = value;
  effect.repaint = true;
  return static_cast<std::intptr_t>(old);
}

} // namespace

double CProgressBarState::Fraction() const {
  return static_cast<double>(m_nPosition - m_nLower) / static_cast<double>(m_nUpper - m_nLower);
}

std::u16string CProgressBarState::Text(const std::u16string& windowText) const {
  if (m_bPercentText == 0 || !HasRange()) return windowText;
  return core::Format(u"%d%%", static_cast<int>(Fraction() * 100.0 + 0.5));
}

int CProgressBarState::MarqueeLimit() const {
  return static_cast<int>(((m_nMarqueePercent + 100.0) * m_nUpper + 0.5) / 100.0);
}

std::intptr_t CProgressBarState::SetPos(std::int32_t position, MessageEffect& effect) {
  const std::int32_t old = m_nPosition;
  const std::int32_t upper = (m_dwStyle & kBarMarquee) ? MarqueeLimit() : m_nUpper;
  m_nPosition = position;
  if (m_nPosition < m_nLower) m_nPosition = m_nLower;
  if (m_nPosition > upper) m_nPosition = upper;
  // The same position draws the same picture: no repaint for it.
  effect.repaint = effect.repaint || m_nPosition != old;
  return old;
}

bool CProgressBarState::Answers(unsigned message) {
  return (message >= kBarSetRange && message <= kBarSetMarquee) || message == kBarGetBkColour ||
         message == kBarGetBarColour || message == kBarSetBkColour ||
         (message >= TPBM_SETTEXTCOLOR && message <= TPBM_SETMARQUEESIZE) || message == kTimerMessage;
}

std::intptr_t CProgressBarState::Handle(unsigned message, std::uintptr_t wParam, std::intptr_t lParam,
                                        const SystemColours& system, MessageEffect& effect) {
  switch (message) {
    case kBarSetRange: {
      const std::intptr_t old = PackRange(m_nLower, m_nUpper);
      m_nLower = static_cast<std::int32_t>(lParam & 0xFFFF);
      m_nUpper = static_cast<std::int32_t>((lParam >> 16) & 0xFFFF);
      return old;
    }
    case kBarSetRange32: {
      const std::intptr_t old = PackRange(m_nLower, m_nUpper);
      m_nLower = static_cast<std::int32_t>(wParam);
      m_nUpper = static_cast<std::int32_t>(lParam);
      return old;
    }
    case kBarSetPos: return SetPos(static_cast<std::int32_t>(wParam), effect);
    case kBarDeltaPos: return SetPos(m_nPosition + static_cast<std::int32_t>(wParam), effect);
    case kBarSetStep: {
      const std::int32_t old = m_nStep;
      m_nStep = static_cast<std::int32_t>(wParam);
      return old;
    }
    case kBarStepIt: {
      std::int32_t next = m_nPosition + m_nStep;
      if (next < m_nLower) next = m_nUpper - (m_nLower - next);
      else if (next > m_nUpper) next = m_nLower + (next - m_nUpper);
      return SetPos(next, effect);
    }
    case kBarGetRange: {
      if (lParam != 0) {
        auto* range = reinterpret_cast<BarRange*>(lParam);
        range->iLow = m_nLower;
        range->iHigh = m_nUpper;
      }
      return wParam != 0 ? m_nLower : m_nUpper;
    }
    case kBarGetPos: return m_nPosition;
    case kBarSetBarColour: return Store(m_crBar, static_cast<ColourRef>(lParam), effect);
    case kBarSetBkColour: return Store(m_crBack, static_cast<ColourRef>(lParam), effect);
    case kBarSetMarquee: {
      m_bPercentText = 0;
      if (wParam != 0) {
        m_dwStyle |= kBarMarquee;
        // As with a window timer, an interval below the minimum (0 among them) gets the minimum,
        // never a busy loop.
        m_nMarqueeIntervalMs = std::max(static_cast<int>(lParam), kShortestTimerMs);
      } else {
        m_dwStyle &= ~kBarMarquee;
        m_nMarqueeIntervalMs = 0;
      }
      effect.marqueeChanged = true;
      effect.repaint = true;
      return static_cast<std::intptr_t>(wParam);
    }
    case kBarGetBkColour: return BackColour(system);
    case kBarGetBarColour: return BarColour(system);
    case TPBM_SETTEXTCOLOR: return Store(m_crText, static_cast<ColourRef>(lParam), effect);
    case TPBM_GETTEXTCOLOR: return TextColour(system);
    case TPBM_SETBARTEXTCOLOR: return Store(m_crTextOnBar, static_cast<ColourRef>(lParam), effect);
    case TPBM_GETBARTEXTCOLOR: return TextOnBarColour(system);
    case TPBM_SHOWPERCENT: return Store(m_bPercentText, static_cast<std::int32_t>(wParam), effect);
    case TPBM_SETTEXTALIGN: return Store(m_nTextAlign, static_cast<std::int32_t>(wParam), effect);
    case TPBM_SETMARQUEESIZE: {
      m_nMarqueePercent = static_cast<std::int32_t>(wParam);
      effect.repaint = true;
      return m_nMarqueePercent;
    }
    case kTimerMessage: {
      if (wParam != MARQUEE_TIMER_ID) return 0;
      const std::int32_t position = m_nPosition;
      if (s_nMarqueeDirection == 1 && position >= MarqueeLimit()) s_nMarqueeDirection = -1;
      else if (s_nMarqueeDirection == -1 && position <= m_nLower) s_nMarqueeDirection = 1;
      SetPos(position + s_nMarqueeDirection, effect);
      return 0;
    }
    default: return 0;
  }
}

BarGeometry CProgressBarState::Geometry(const Rect& rc) const {
  const double f = Fraction();
  BarGeometry g{rc, rc, rc, true, true};
  const bool vertical = IsVertical();
  if (m_dwStyle & kBarMarquee) {
    const int length = vertical ? rc.Height() : rc.Width();
    const int seg = (length * m_nMarqueePercent + 50) / 100;
    if (!vertical) {
      const int lead = rc.left + static_cast<int>(rc.Width() * f);
      g.bar.left = lead - seg;
      g.bar.right = lead;
      if (lead - seg > rc.left) g.before.right = lead - seg;
      else { g.drawBefore = false; g.bar.left = rc.left; }
      if (lead < rc.right) g.after.left = lead;
      else { g.drawAfter = false; g.bar.right = rc.right; }
    } else {
      const int top = rc.bottom - static_cast<int>(rc.Height() * f);
      g.bar.top = top;
      g.bar.bottom = top + seg;
      if (top + seg < rc.bottom) g.before.top = top + seg;
      else { g.drawBefore = false; g.bar.bottom = rc.bottom; }
      if (top > rc.top) g.after.bottom = top;
      else { g.drawAfter = false; g.bar.top = rc.top; }
    }
  } else {
    g.drawBefore = false;
    if (!vertical) {
      g.bar.right = rc.left + static_cast<int>(rc.Width() * f);
      g.after.left = g.bar.right;
    } else {
      g.bar.top = rc.bottom - static_cast<int>(rc.Height() * f);
      g.after.bottom = g.bar.top;
    }
  }
  return g;
}

void CProgressBarState::TextOrigin(const Rect& rc, int cx, int cy, int& x, int& y) const {
  if (IsVertical()) {
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
}

} // namespace skin
