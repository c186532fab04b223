#pragma once
// The skinned window's push button: one image per state (normal, selected, focus, disabled), a
// hover image that wins while the pointer is inside, and a key colour whose pixels are not drawn,
// so the window shows through them. No text is drawn; the keyboard's focus shows as a dotted
// rectangle.
#include <QAbstractButton>
#include <QImage>

#include "qtui/Vocabulary.h"

namespace qtui {

class CBitmapButtonEx : public QAbstractButton {
  Q_OBJECT
 public:
  CBitmapButtonEx(QWidget* parent, int id);

  int Id() const { return m_nId; }
  // Loads the state images by id (0 = none); false when the normal image is missing.
  // Renders the images at the given device pixel ratio (0: the button's own).
  bool LoadBitmaps(unsigned normal, unsigned selected = 0, unsigned focus = 0, unsigned disabled = 0, qreal ratio = 0);
  // Takes the size of the normal image, keeping the top-left corner.
  void SizeToContent();
  // Records the id; a non-zero id replaces the hover image.
  virtual void SetHoverImage(unsigned id, qreal ratio = 0);
  virtual void SetKeyColor(ColourRef key);
  // The same with images at hand rather than ids.
  void SetImages(const QImage& normal, const QImage& selected, const QImage& focus, const QImage& disabled);
  void SetHoverImage(const QImage& image) { m_bmpHover = image; }

  // The image the next paint draws (null when none applies).
  const QImage& ChosenImage() const;
  bool IsMouseOver() const { return m_bMouseOver; }
  int PaintCount() const { return m_nPaints; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  int m_nId;
  QImage m_bmpNormal;
  QImage m_bmpSelected;
  QImage m_bmpFocus;
  QImage m_bmpDisabled;
  ColourRef m_crKey = Rgb(255, 0, 255);
  bool m_bMouseOver = false;
  bool m_bKeyboardFocus = false;
  unsigned m_nHoverImageId = 0;
  QImage m_bmpHover;
  int m_nPaints = 0;
};

// Draws image with its top-left corner at x, y, leaving the target unchanged wherever the image
// has exactly the key colour.
void DrawBitmapTransparent(QPainter& painter, const QImage& image, int x, int y, ColourRef key);

} // namespace qtui
