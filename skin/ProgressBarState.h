#pragma once
// The text progress bar without its toolkit: the messages it answers from its own state, and where
// its fill, its background and its text go. The Qt control and the Win32 control both keep one and
// only paint what it computes.
#include <cstdint>
#include <string>

#include "controller/Colour.h"

namespace skin {

using controller::COLORREF;

constexpr unsigned PBM_SETRANGE = 0x401;
constexpr unsigned PBM_SETPOS = 0x402;
constexpr unsigned PBM_DELTAPOS = 0x403;
constexpr unsigned PBM_SETSTEP = 0x404;
constexpr unsigned PBM_STEPIT = 0x405;
constexpr unsigned PBM_SETRANGE32 = 0x406;
constexpr unsigned PBM_GETRANGE = 0x407;
constexpr unsigned PBM_GETPOS = 0x408;
constexpr unsigned PBM_SETBARCOLOR = 0x409;
constexpr unsigned PBM_SETMARQUEE = 0x40A;
constexpr unsigned PBM_GETBKCOLOR = 0x40E;
constexpr unsigned PBM_GETBARCOLOR = 0x40F;
constexpr unsigned PBM_SETBKCOLOR = 0x2001;
constexpr unsigned TPBM_SETTEXTCOLOR = 0x466;
constexpr unsigned TPBM_GETTEXTCOLOR = 0x467;
constexpr unsigned TPBM_SETBARTEXTCOLOR = 0x468;
constexpr unsigned TPBM_GETBARTEXTCOLOR = 0x469;
constexpr unsigned TPBM_SHOWPERCENT = 0x46A;
constexpr unsigned TPBM_SETTEXTALIGN = 0x46B;
constexpr unsigned TPBM_SETMARQUEESIZE = 0x46C;
constexpr unsigned WM_TIMER = 0x113;
constexpr unsigned MARQUEE_TIMER_ID = 1;
// The shortest timer interval, in milliseconds; shorter requests are raised to it.
constexpr int USER_TIMER_MINIMUM = 10;

constexpr std::uint32_t PBS_SMOOTH = 0x01;
constexpr std::uint32_t PBS_VERTICAL = 0x04;
constexpr std::uint32_t PBS_MARQUEE = 0x08;
// The style bits the bar reads from its window.
constexpr std::uint32_t kBarStyleBits = PBS_SMOOTH | PBS_VERTICAL | PBS_MARQUEE;

struct PBRANGE {
  std::int32_t iLow;
  std::int32_t iHigh;
};

// The flat 2-pixel frame around every bar: outer and inner ring.
inline constexpr COLORREF kFrameOuter = controller::RGB(72, 72, 72);
inline constexpr COLORREF kFrameInner = controller::RGB(24, 24, 24);

// Window-style rectangle: right and bottom are one past the last pixel.
struct Rect {
  int left, top, right, bottom;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};

// The colours a bar's CLR_DEFAULT settings stand for on its platform.
struct SystemColours {
  COLORREF bar, back, text, textOnBar;
};

// Where one paint puts things, inside the frame.
struct BarGeometry {
  Rect bar, before, after;
  bool drawBefore = false, drawAfter = true;
};

// What a message asks of the control beyond its answer.
struct MessageEffect {
  bool repaint = false;
  bool marqueeChanged = false;  // the marquee timer must start (MarqueeIntervalMs() > 0) or stop
};

class CProgressBarState {
 public:
  explicit CProgressBarState(std::uint32_t style = PBS_SMOOTH) : m_dwStyle(style) {}

  // True for the messages Handle answers; everything else is the platform control's.
  static bool Answers(unsigned message);
  // Answers a message with the platform bar's numbers, parameters and results.
  std::intptr_t Handle(unsigned message, std::uintptr_t wParam, std::intptr_t lParam, const SystemColours& system,
                       MessageEffect& effect);

  std::uint32_t Style() const { return m_dwStyle; }
  void ModifyStyle(std::uint32_t remove, std::uint32_t add) { m_dwStyle = (m_dwStyle & ~remove) | add; }
  bool IsVertical() const { return (m_dwStyle & PBS_VERTICAL) != 0; }
  // False when the range is empty or inverted: the bar then paints nothing.
  bool HasRange() const { return m_nLower < m_nUpper; }
  // The running marquee's interval; 0 when it is off.
  int MarqueeIntervalMs() const { return (m_dwStyle & PBS_MARQUEE) ? m_nMarqueeIntervalMs : 0; }

  // The text shown: the percentage, or the window text.
  std::u16string Text(const std::u16string& windowText) const;
  // The fill and the two background parts inside the inner rectangle.
  BarGeometry Geometry(const Rect& inner) const;
  // Where a text of cx by cy pixels starts; a vertical text runs upward from that point.
  void TextOrigin(const Rect& inner, int cx, int cy, int& x, int& y) const;
  COLORREF Colour(COLORREF stored, COLORREF system) const { return stored == controller::CLR_DEFAULT ? system : stored; }
  COLORREF BarColour(const SystemColours& s) const { return Colour(m_crBar, s.bar); }
  COLORREF BackColour(const SystemColours& s) const { return Colour(m_crBack, s.back); }
  COLORREF TextColour(const SystemColours& s) const { return Colour(m_crText, s.text); }
  COLORREF TextOnBarColour(const SystemColours& s) const { return Colour(m_crTextOnBar, s.textOnBar); }

  // The shared direction of every marquee in the process.
  static int s_nMarqueeDirection;

 private:
  std::intptr_t SetPos(std::int32_t position, MessageEffect& effect);
  int MarqueeLimit() const;
  double Fraction() const;

  std::uint32_t m_dwStyle;
  int m_nMarqueeIntervalMs = 0;
  std::int32_t m_bPercentText = 1;
  COLORREF m_crBar = controller::CLR_DEFAULT;
  COLORREF m_crBack = controller::CLR_DEFAULT;
  COLORREF m_crText = controller::CLR_DEFAULT;
  COLORREF m_crTextOnBar = controller::CLR_DEFAULT;
  std::int32_t m_nTextAlign = 1;
  std::int32_t m_nPosition = 0;
  std::int32_t m_nStep = 10;
  std::int32_t m_nLower = 0;
  std::int32_t m_nUpper = 100;
  std::int32_t m_nMarqueePercent = 20;
};

} // namespace skin
