#pragma once
// A progress bar that paints itself: a flat 2-pixel frame, a filled part, an unfilled part and a
// text (the percentage by default) drawn in one colour over the fill and another beside it. It
// answers the progress-bar messages through one entry point, and has a marquee mode.
#include <cstdint>

#include <QBasicTimer>
#include <QString>
#include <QWidget>

#include "ui/Win32Types.h"

namespace ui {

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

struct PBRANGE {
  std::int32_t iLow;
  std::int32_t iHigh;
};

class CTextProgressCtrl : public QWidget {
  Q_OBJECT
 public:
  CTextProgressCtrl(QWidget* parent, int id, std::uint32_t style = PBS_SMOOTH);

  int Id() const { return m_nId; }
  // The message entry point: the same numbers, parameters and results as the platform's bar.
  std::intptr_t SendMessage(unsigned message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
  std::uint32_t Style() const { return m_dwStyle; }
  void ModifyStyle(std::uint32_t remove, std::uint32_t add) { m_dwStyle = (m_dwStyle & ~remove) | add; }
  void SetWindowText(const QString& text);
  // The text the bar shows: the percentage, or the window text.
  QString BarText() const;
  // The running marquee's interval in milliseconds; 0 when it is off.
  int MarqueeInterval() const { return m_marqueeTimer.isActive() ? m_nMarqueeIntervalMs : 0; }

  // The shared direction of every marquee in the process.
  static int s_nMarqueeDirection;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  // A press on the bar stays with the bar: it does not move the window.
  void mousePressEvent(QMouseEvent* event) override;

 private:
  std::intptr_t SetPos(std::int32_t position);
  int MarqueeLimit() const;
  COLORREF Effective(COLORREF stored, COLORREF system) const;
  void Repaint();
  // Stores a setting, repaints, and returns the setting's previous value.
  template <typename T>
  std::intptr_t StoreAndRepaint(T& field, T value);

  int m_nId;
  std::uint32_t m_dwStyle;
  QString m_strText;
  QBasicTimer m_marqueeTimer;
  int m_nMarqueeIntervalMs = 0;
  std::int32_t m_bPercentText = 1;
  COLORREF m_crBar = CLR_DEFAULT;
  COLORREF m_crBack = CLR_DEFAULT;
  COLORREF m_crText = CLR_DEFAULT;
  COLORREF m_crTextOnBar = CLR_DEFAULT;
  std::int32_t m_nTextAlign = 1;
  std::int32_t m_nPosition = 0;
  std::int32_t m_nStep = 10;
  std::int32_t m_nLower = 0;
  std::int32_t m_nUpper = 100;
  std::int32_t m_nMarqueePercent = 20;
};

} // namespace ui
