#pragma once
// The main window's skin: a frameless 639 x 380 window painted entirely by the program, with every
// control at its pixel rectangle, moved by dragging its surface. What the controls show is the
// controller's business; this class only builds and dresses them.
#include <map>
#include <memory>

#include <QWidget>

#include "qtui/BitmapButtonEx.h"
#include "qtui/TextProgressCtrl.h"
#include "qtui/TransparentStatic.h"

namespace qtui {

class CSkinnedWindow : public QWidget {
  Q_OBJECT
 public:

  explicit CSkinnedWindow(QWidget* parent = nullptr);
  ~CSkinnedWindow() override;

  CTransparentStatic* Label(int id) const;
  CTextProgressCtrl* Bar(int id) const;
  CBitmapButtonEx* Button(int id) const;
  QWidget* Control(int id) const;

  void InitProgressBars();
  void InitButtons();
  // Shows the background picture behind every other control.
  void InitBackground();
  // Renders the button images and the background at a device pixel ratio; done again by itself
  // when the window moves to a screen of another density.
  void RenderSkin(qreal ratio);
  qreal SkinRatio() const { return m_dSkinRatio; }
  qreal BackgroundRatio() const;

  // Lets the next close request through (the controller has confirmed it).
  void AllowClose() { m_bCloseAllowed = true; }
  int DragStarts() const { return m_nDragStarts; }

 signals:
  // The close command: button 2, the caption close button and the window manager's close request.
  void closeRequested();
  void aboutRequested();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  bool event(QEvent* event) override;

 private:
  // Each label at the largest size, at most the window's, at which all it shows fits its width.
  void FitLabelFonts();
  // Owned here and destroyed before the window itself, which then finds no children left.
  std::map<int, std::unique_ptr<QWidget>> m_controls;
  QWidget* m_pBackground = nullptr;
  bool m_bCloseAllowed = false;
  int m_nDragStarts = 0;
  qreal m_dSkinRatio = 0;  // 0 until the skin is rendered
};

} // namespace qtui
