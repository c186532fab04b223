#include "winui/MemoryDC.h"

namespace winui {

namespace {
constexpr ATOM kDialogClassAtom = 32770;
}

CMemoryDC::CMemoryDC(HDC target)
    : m_bOffscreen(GetDeviceCaps(target, TECHNOLOGY) != DT_RASPRINTER), m_pTargetDC(target) {
  GetClipBox(target, &m_rcArea);
  if (m_bOffscreen) {
    m_dc.reset(CreateCompatibleDC(target));
    RECT device = m_rcArea;
    LPtoDP(target, reinterpret_cast<POINT*>(&device), 2);
    m_bmpOffscreen.reset(CreateCompatibleBitmap(target, device.right - device.left, device.bottom - device.top));
    if (!m_dc || !m_bmpOffscreen) {
      // Without memory for the buffer the paint goes straight to the target.
      m_bOffscreen = false;
    } else {
      m_pOldBitmap = SelectObject(m_dc.get(), m_bmpOffscreen.get());
      SetMapMode(m_dc.get(), GetMapMode(target));
      SIZE extent{};
      GetWindowExtEx(target, &extent);
      SetWindowExtEx(m_dc.get(), extent.cx, extent.cy, nullptr);
      GetViewportExtEx(target, &extent);
      SetViewportExtEx(m_dc.get(), extent.cx, extent.cy, nullptr);
      SetWindowOrgEx(m_dc.get(), m_rcArea.left, m_rcArea.top, nullptr);
    }
  }
  PreFill();
}

void CMemoryDC::PreFill() {
  const HDC dc = Get();
  const HWND owner = WindowFromDC(m_pTargetDC);
  if (owner && GetClassLongPtrW(owner, GCW_ATOM) == kDialogClassAtom) {
    FillSolidRect(dc, m_rcArea, GetSysColor(COLOR_BTNFACE));
  } else if (const auto brush = owner ? reinterpret_cast<HBRUSH>(GetClassLongPtrW(owner, GCLP_HBRBACKGROUND)) : nullptr) {
    FillRect(dc, &m_rcArea, brush);
  } else {
    FillSolidRect(dc, m_rcArea, GetBkColor(m_pTargetDC));
  }
}

CMemoryDC::~CMemoryDC() {
  if (!m_bOffscreen) return;
  BitBlt(m_pTargetDC, m_rcArea.left, m_rcArea.top, m_rcArea.right - m_rcArea.left, m_rcArea.bottom - m_rcArea.top,
         m_dc.get(), m_rcArea.left, m_rcArea.top, SRCCOPY);
  SelectObject(m_dc.get(), m_pOldBitmap);
}

} // namespace winui
