#pragma once
// An off-screen buffer over a painter's target: everything drawn through painter() lands in a
// pixmap of the target area, which is copied back to the target once, when the object ends.
#include <memory>

#include <QColor>
#include <QPainter>
#include <QPixmap>
#include <QRect>

namespace qtui {

class CMemoryDC {
 public:
  // area is in the target's coordinates; fill is the colour the buffer starts with.
  CMemoryDC(QPainter& target, const QRect& area, const QColor& fill);
  ~CMemoryDC();
  CMemoryDC(const CMemoryDC&) = delete;
  CMemoryDC& operator=(const CMemoryDC&) = delete;

  // Draws at the target's coordinates.
  QPainter& painter() { return *m_pPainter; }
  const QRect& area() const { return m_rcArea; }

 private:
  QPainter& m_target;
  QRect m_rcArea;
  QPixmap m_bmpOffscreen;
  std::unique_ptr<QPainter> m_pPainter;
};

} // namespace qtui
