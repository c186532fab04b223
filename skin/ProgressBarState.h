#pragma once
// The text progress bar without its toolkit: the messages it answers from its own state, and where
// its fill, its background and its text go. The Qt control and the Win32 control both keep one and
// only paint what it computes.
#include <cstdint>
#include <string>

#include "window/Colour.h"

namespace skin {

using window::ColourRef;

constexpr unsigned kBarSetRange = 0x401;
constexpr unsigned kBarSetPos = 0x402;
constexpr unsigned kBarDeltaPos = 0x403;
constexpr unsigned kBarSetStep = 0x404;
constexpr unsigned kBarStepIt = 0x405;
constexpr unsigned kBarSetRange32 = 0x406;
constexpr unsigned kBarGetRange = 0x407;
constexpr unsigned kBarGetPos = 0x408;
constexpr unsigned kBarSetBarColour = 0x409;
constexpr unsigned kBarSetMarquee = 0x40A;
constexpr unsigned kBarGetBkColour = 0x40E;
constexpr unsigned kBarGetBarColour = 0x40F;
constexpr unsigned kBarSetBkColour = 0x2001;
constexpr unsigned TPBM_SETTEXTCOLOR = 0x466;
constexpr unsigned TPBM_GETTEXTCOLOR = 0x467;
constexpr unsigned TPBM_SETBARTEXTCOLOR = 0x468;
constexpr unsigned TPBM_GETBARTEXTCOLOR = 0x469;
constexpr unsigned TPBM_SHOWPERCENT = 0x46A;
constexpr unsigned TPBM_SETTEXTALIGN = 0x46B;
constexpr unsigned TPBM_SETMARQUEESIZE = 0x46C;
constexpr unsigned kTimerMessage = 0x113;
constexpr unsigned MARQUEE_TIMER_ID = 1;
// The shortest timer interval, in milliseconds; shorter requests are raised to it.
constexpr int kShortestTimerMs = 10;

constexpr std::uint32_t kBarSmooth = 0x01;
constexpr std::uint32_t kBarVertical = 0x04;
constexpr std::uint32_t kBarMarquee = 0x08;
// The style bits the bar reads from its window.
constexpr std::uint32_t kBarStyleBits = kBarSmooth | kBarVertical | kBarMarquee;

struct BarRange {
  std::int32_t iLow;
  std::int32_t iHigh;
};

// The flat 2-pixel frame around every bar: outer and inner ring.
inline constexpr ColourRef kFrameOuter = window::Rgb(72, 72, 72);
inline constexpr ColourRef kFrameInner = window::Rgb(24, 24, 24);

// Window-style rectangle: right and bottom are one past the last pixel.
struct Rect {
  int left, top, right, bottom;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
};

// The colours a bar's kDefaultColour settings stand for on its platform.
struct SystemColours {
  ColourRef bar, back, text, textOnBar;
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
  explicit CProgressBarState(std::uint32_t style = kBarSmooth) : m_dwStyle(style) {}

  // True for the messages Handle answers; everything else is the platform control's.
  static bool Answers(unsigned message);
  // Answers a message with the platform bar's numbers, parameters and results.
  std::intptr_t Handle(unsigned message, std::uintptr_t wParam, std::intptr_t lParam, const SystemColours& system,
                       MessageEffect& effect);

  std::uint32_t Style() const { return m_dwStyle; }
  void ModifyStyle(std::uint32_t remove, std::uint32_t add) { m_dwStyle = (m_dwStyle & ~remove) | add; }
  bool IsVertical() const { return (m_dwStyle & kBarVertical) != 0; }
  // False when the range is empty or inverted: the bar then paints nothing.
  bool HasRange() const { return m_nLower < m_nUpper; }
  // The running marquee's interval; 0 when it is off.
  int MarqueeIntervalMs() const { return (m_dwStyle & kBarMarquee) ? m_nMarqueeIntervalMs : 0; }

  // The text shown: the percentage, or the window text.
  std::u16string Text(const std::u16string& windowText) const;
  // The fill and the two background parts inside the inner rectangle.
  BarGeometry Geometry(const Rect& inner) const;
  // Where a text of cx by cy pixels starts; a vertical text runs upward from that point.
  void TextOrigin(const Rect& inner, int cx, int cy, int& x, int& y) const;
  ColourRef Colour(ColourRef stored, ColourRef system) const { return stored == window::kDefaultColour ? system : stored; }
  ColourRef BarColour(const SystemColours& s) const { return Colour(m_crBar, s.bar); }
  ColourRef BackColour(const SystemColours& s) const { return Colour(m_crBack, s.back); }
  ColourRef TextColour(const SystemColours& s) const { return Colour(m_crText, s.text); }
  ColourRef TextOnBarColour(const SystemColours& s) const { return Colour(m_crTextOnBar, s.textOnBar); }

  // The shared direction of every marquee in the process.
  static int s_nMarqueeDirection;

 private:
  std::intptr_t SetPos(std::int32_t position, MessageEffect& effect);
  int MarqueeLimit() const;
  double Fraction() const;

  std::uint32_t m_dwStyle;
  int m_nMarqueeIntervalMs = 0;
  std::int32_t m_bPercentText = 1;
  ColourRef m_crBar = window::kDefaultColour;
  ColourRef m_crBack = window::kDefaultColour;
  ColourRef m_crText = window::kDefaultColour;
  ColourRef m_crTextOnBar = window::kDefaultColour;
  std::int32_t m_nTextAlign = 1;
  std::int32_t m_nPosition = 0;
  std::int32_t m_nStep = 10;
  std::int32_t m_nLower = 0;
  std::int32_t m_nUpper = 100;
  std::int32_t m_nMarqueePercent = 20;
};

} // namespace skin
