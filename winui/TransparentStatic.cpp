#include "winui/TransparentStatic.h"

namespace winui {

void CTransparentStatic::SetTextColor(COLORREF colour) {
  m_crText = colour;
  RedrawWindow(Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

HBRUSH CTransparentStatic::OnCtlColor(HDC dc) const {
  SetBkMode(dc, TRANSPARENT);
  ::SetTextColor(dc, m_crText);
  return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

void CTransparentStatic::OnEraseBkgnd(HDC dc) {
  if (!m_bmpBackground) {
    // The first erase copies what the parent shows beneath the label: the picture. Nothing is
    // painted now, as the screen shows those pixels already.
    const HWND parent = GetParent(Hwnd());
    RECT r;
    GetWindowRect(Hwnd(), &r);
    MapWindowPoints(HWND_DESKTOP, parent, reinterpret_cast<POINT*>(&r), 2);
    const CClientDc parentDc(parent);
    const UniqueMemoryDc memory(CreateCompatibleDC(parentDc.Get()));
    UniqueBitmap snapshot(CreateCompatibleBitmap(parentDc.Get(), r.right - r.left, r.bottom - r.top));
    if (!memory || !snapshot) return;
    const CSelectObject select(memory.get(), snapshot.get());
    BitBlt(memory.get(), 0, 0, r.right - r.left, r.bottom - r.top, parentDc.Get(), r.left, r.top, SRCCOPY);
    m_bmpBackground = std::move(snapshot);
    return;
  }
  RECT client;
  GetClientRect(Hwnd(), &client);
  const UniqueMemoryDc memory(CreateCompatibleDC(dc));
  if (!memory) return;
  const CSelectObject select(memory.get(), m_bmpBackground.get());
  BitBlt(dc, 0, 0, client.right - client.left, client.bottom - client.top, memory.get(), 0, 0, SRCCOPY);
}

LRESULT CTransparentStatic::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND:
      OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
      return TRUE;
    case WM_SETTEXT: {
      // Painted with the next frame, from the snapshot: many texts in a row paint once.
      const LRESULT result = Default(message, wParam, lParam);
      InvalidateRect(Hwnd(), nullptr, TRUE);
      return result;
    }
    default: return Default(message, wParam, lParam);
  }
}

} // namespace winui
