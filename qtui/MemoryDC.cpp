#include "qtui/MemoryDC.h"

#include <QPaintDevice>

namespace qtui {

CMemoryDC::CMemoryDC(QPainter& target, const QRect& area, const QColor& fill) : m_target(target), m_rcArea(area) {
  const qreal ratio = target.device() != nullptr ? target.device()->devicePixelRatioF() : 1.0;
  m_bmpOffscreen = QPixmap(area.size() * ratio);
  m_bmpOffscreen.setDevicePixelRatio(ratio);
  m_bmpOffscreen.fill(fill);
  m_pPainter = std::make_unique<QPainter>(&m_bmpOffscreen);
  m_pPainter->translate(-area.topLeft());
  m_pPainter->setFont(target.font());
}

CMemoryDC::~CMemoryDC() {
  m_pPainter->end();
  m_target.drawPixmap(m_rcArea.topLeft(), m_bmpOffscreen);
}

} // namespace qtui
