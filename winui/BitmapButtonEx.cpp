#include "winui/BitmapButtonEx.h"

#include "winui/Dpi.h"

namespace winui {

void DrawBitmapTransparent(HDC target, HBITMAP image, int x, int y, COLORREF key) {
  if (!target || !image) return;
  BITMAP info{};
  if (!GetObjectW(image, sizeof info, &info)) info.bmWidth = info.bmHeight = 0;
  const int w = info.bmWidth, h = info.bmHeight;
  const UniqueMemoryDc imageDc(CreateCompatibleDC(target));
  const UniqueMemoryDc maskDc(CreateCompatibleDC(target));
  const UniqueBitmap mask(CreateBitmap(w, h, 1, 1, nullptr));
  if (!imageDc || !maskDc || !mask) return;
  const CSelectObject selectImage(imageDc.get(), image);
  const COLORREF oldBack = SetBkColor(target, RGB(255, 255, 255));
  const COLORREF oldText = SetTextColor(target, RGB(0, 0, 0));
  {
    const CSelectObject selectMask(maskDc.get(), mask.get());
    // Colour to monochrome: the key (the image context's background) becomes 1, the rest 0.
    SetBkColor(imageDc.get(), key);
    BitBlt(maskDc.get(), 0, 0, w, h, imageDc.get(), 0, 0, SRCCOPY);
    // target ^ image, then key pixels keep it and the rest is cleared, then ^ image again.
    BitBlt(target, x, y, w, h, imageDc.get(), 0, 0, SRCINVERT);
    BitBlt(target, x, y, w, h, maskDc.get(), 0, 0, SRCAND);
    BitBlt(target, x, y, w, h, imageDc.get(), 0, 0, SRCINVERT);
  }
  SetBkColor(target, oldBack);
  SetTextColor(target, oldText);
}

CBitmapButtonEx::CBitmapButtonEx(HINSTANCE resources)
    : m_hResources(resources ? resources : GetModuleHandleW(nullptr)) {}

HBITMAP CBitmapButtonEx::Load(UINT id) const {
  return LoadScaledBitmap(m_hResources, id, m_nDpi);
}

bool CBitmapButtonEx::LoadBitmaps(UINT normal, UINT selected, UINT focus, UINT disabled) {
  m_bmpNormal.reset();
  m_bmpSelected.reset();
  m_bmpFocus.reset();
  m_bmpDisabled.reset();
  m_bmpNormal.reset(Load(normal));
  if (!m_bmpNormal) return false;
  bool all = true;
  const auto load = [&](UINT id, UniqueBitmap& into) {
    if (id == 0) return;
    into.reset(Load(id));
    all = all && into;
  };
  load(selected, m_bmpSelected);
  load(focus, m_bmpFocus);
  load(disabled, m_bmpDisabled);
  return all;
}

void CBitmapButtonEx::SizeToContent() {
  BITMAP info{};
  if (!Hwnd() || !m_bmpNormal || !GetObjectW(m_bmpNormal.get(), sizeof info, &info)) return;
  SetWindowPos(Hwnd(), nullptr, 0, 0, info.bmWidth, info.bmHeight,
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOREDRAW);
}

void CBitmapButtonEx::SetHoverImage(UINT id) {
  m_nHoverImageId = id;
  if (id != 0) m_bmpHover.reset(Load(id));
}

void CBitmapButtonEx::DrawItem(const DRAWITEMSTRUCT& item) {
  HBITMAP chosen = m_bmpNormal.get();
  if ((item.itemState & ODS_SELECTED) && m_bmpSelected) chosen = m_bmpSelected.get();
  else if ((item.itemState & ODS_FOCUS) && m_bmpFocus) chosen = m_bmpFocus.get();
  else if ((item.itemState & ODS_DISABLED) && m_bmpDisabled) chosen = m_bmpDisabled.get();
  // A disabled button must not look usable, pointer or not.
  if (m_bMouseOver && !(item.itemState & ODS_DISABLED) && m_bmpHover) chosen = m_bmpHover.get();
  DrawBitmapTransparent(item.hDC, chosen, item.rcItem.left, item.rcItem.top, m_crKey);
  // Keyboard focus shows as the system's dotted rectangle inside the edge, once the keyboard is in
  // use (the system hides focus cues after mouse clicks).
  if (m_bFocusCues && (item.itemState & ODS_FOCUS) && !(item.itemState & ODS_NOFOCUSRECT)) {
    RECT inner = item.rcItem;
    InflateRect(&inner, -2, -2);
    DrawFocusRect(item.hDC, &inner);
  }
}

LRESULT CBitmapButtonEx::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_ERASEBKGND: return FALSE;  // the image paints the whole button
    case WM_MOUSEMOVE:
      if (!m_bMouseOver) {
        TrackMouseEvent(&m_trackEvent);
        m_bMouseOver = 1;
        InvalidateRect(Hwnd(), nullptr, FALSE);
      }
      break;
    case WM_MOUSELEAVE:
      m_bMouseOver = 0;
      InvalidateRect(Hwnd(), nullptr, FALSE);
      break;
    default: break;
  }
  return Default(message, wParam, lParam);
}

} // namespace winui
