#pragma once
// A text label over the window's background picture: it paints only its text, in its own colour,
// so exactly the window's pixels beneath show around the glyphs. Labels let mouse presses through
// to the window (which starts a drag) unless they notify clicks, as the two links do.
#include <QString>
#include <QWidget>

#include "qtui/Vocabulary.h"

namespace qtui {

class CTransparentStatic : public QWidget {
  Q_OBJECT
 public:
  CTransparentStatic(QWidget* parent, int id, const QString& text, bool notify = false, bool endEllipsis = false);

  int Id() const { return m_nId; }
  void SetTextColor(ColourRef colour);
  ColourRef TextColor() const { return m_crText; }
  void SetWindowText(const QString& text);
  QString GetWindowText() const { return m_strText; }

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;

 private:
  int m_nId;
  QString m_strText;
  ColourRef m_crText = Rgb(149, 149, 151);
  bool m_bEndEllipsis;
};

} // namespace qtui
