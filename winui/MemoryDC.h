#pragma once
// An off-screen context over a context being painted: drawing lands in a bitmap of the target's
// clip box, which is copied to the target in one blit when the object ends, so a control that fills
// its area several times per paint does not flicker. A printer target is drawn into directly.
#include <windows.h>

#include "winui/GdiHandles.h"

namespace winui {

class CMemoryDC {
 public:
  explicit CMemoryDC(HDC target);
  ~CMemoryDC();
  CMemoryDC(const CMemoryDC&) = delete;
  CMemoryDC& operator=(const CMemoryDC&) = delete;

  HDC Get() const { return m_bOffscreen ? m_dc.get() : m_pTargetDC; }

 private:
  void PreFill();

  bool m_bOffscreen;
  UniqueMemoryDc m_dc;
  UniqueBitmap m_bmpOffscreen;
  HGDIOBJ m_pOldBitmap = nullptr;
  HDC m_pTargetDC;
  RECT m_rcArea{};
};

} // namespace winui
