#pragma once
// A progress bar that paints itself: a flat 2-pixel frame, a filled part, an unfilled part and a
// text (the percentage by default) drawn in one colour over the fill and another beside it. It
// answers the progress-bar messages through one entry point, and has a marquee mode.
#include <cstdint>

#include <QBasicTimer>
#include <QString>
#include <QWidget>

#include "qtui/Vocabulary.h"
#include "skin/ProgressBarState.h"

namespace qtui {

// The bar's messages and styles are the toolkit-free state's.
using namespace skin;

class CTextProgressCtrl : public QWidget {
  Q_OBJECT
 public:
  CTextProgressCtrl(QWidget* parent, int id, std::uint32_t style = kBarSmooth);

  int Id() const { return m_nId; }
  // The message entry point: the same numbers, parameters and results as the platform's bar.
  std::intptr_t SendMessage(unsigned message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0);
  std::uint32_t Style() const { return m_state.Style(); }
  void ModifyStyle(std::uint32_t remove, std::uint32_t add) { m_state.ModifyStyle(remove, add); }
  void SetWindowText(const QString& text);
  // The text the bar shows: the percentage, or the window text.
  QString BarText() const;
  // The running marquee's interval in milliseconds; 0 when it is off.
  int MarqueeInterval() const { return m_marqueeTimer.isActive() ? m_state.MarqueeIntervalMs() : 0; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  // A press on the bar stays with the bar: it does not move the window.
  void mousePressEvent(QMouseEvent* event) override;

 private:
  SystemColours System() const;

  int m_nId;
  CProgressBarState m_state;
  QString m_strText;
  QBasicTimer m_marqueeTimer;
};

} // namespace qtui
