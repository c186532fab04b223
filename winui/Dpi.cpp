#include "winui/Dpi.h"

#include <iterator>

#include "skin/ImageScales.h"
#include "winui/GdiHandles.h"

namespace winui {

namespace {

// Looked up at run time: the program still starts on systems older than these calls.
template <class Function>
Function UserCall(const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), name)));
}

HBITMAP LoadBitmapResource(HINSTANCE resources, UINT id) {
  return static_cast<HBITMAP>(LoadImageW(resources, MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
}

SIZE BitmapSize(HBITMAP bitmap) {
  BITMAP info{};
  GetObjectW(bitmap, sizeof info, &info);
  return SIZE{info.bmWidth, info.bmHeight};
}

} // namespace

UINT WindowDpi(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto getDpiForWindow = UserCall<GetDpiForWindowFn>("GetDpiForWindow");
  if (getDpiForWindow && window) {
    if (const UINT dpi = getDpiForWindow(window)) return dpi;
  }
  const CClientDc screen(nullptr);
  const int dpi = GetDeviceCaps(screen.Get(), LOGPIXELSX);
  return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

void KeepDialogLayoutOnDpiChange(HWND dialog) {
  // DDC_DISABLE_ALL and DCDC_DISABLE_FONTUPDATE | DCDC_DISABLE_RELAYOUT, by value: older headers lack them.
  using DialogFn = BOOL(WINAPI*)(HWND, int, int);
  using ControlFn = BOOL(WINAPI*)(HWND, int, int);
  static const auto dialogBehaviour = UserCall<DialogFn>("SetDialogDpiChangeBehavior");
  static const auto controlBehaviour = UserCall<ControlFn>("SetDialogControlDpiChangeBehavior");
  if (dialogBehaviour) dialogBehaviour(dialog, 1, 1);
  if (!controlBehaviour) return;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    controlBehaviour(child, 3, 3);
}

HBITMAP LoadScaledBitmap(HINSTANCE resources, UINT id, UINT dpi) {
  if (id == 0) return nullptr;
  if (dpi <= kBaseDpi) return LoadBitmapResource(resources, id);
  const UniqueBitmap base(LoadBitmapResource(resources, id));
  if (!base) return nullptr;
  const SIZE baseSize = BitmapSize(base.get());
  const SIZE wanted{Scaled(baseSize.cx, dpi), Scaled(baseSize.cy, dpi)};
  // The smallest rendering at or above the wanted scale, else the largest.
  int percent = skin::kImageScales[std::size(skin::kImageScales) - 1];
  for (const int scale : skin::kImageScales) {
    if (scale * static_cast<int>(kBaseDpi) >= static_cast<int>(dpi) * 100) {
      percent = scale;
      break;
    }
  }
  UniqueBitmap rendered(LoadBitmapResource(resources, skin::ImageIdAtScale(id, percent)));
  if (!rendered) rendered.reset(LoadBitmapResource(resources, id));
  const SIZE renderedSize = BitmapSize(rendered.get());
  if (renderedSize.cx == wanted.cx && renderedSize.cy == wanted.cy) return rendered.release();
  // Between renderings: brought to size with the system's smoothing filter.
  const CClientDc screen(nullptr);
  UniqueBitmap fitted(CreateCompatibleBitmap(screen.Get(), wanted.cx, wanted.cy));
  const UniqueMemoryDc from(CreateCompatibleDC(screen.Get())), to(CreateCompatibleDC(screen.Get()));
  if (!fitted || !from || !to) return rendered.release();
  {
    const CSelectObject selectFrom(from.get(), rendered.get());
    const CSelectObject selectTo(to.get(), fitted.get());
    SetStretchBltMode(to.get(), HALFTONE);
    SetBrushOrgEx(to.get(), 0, 0, nullptr);
    StretchBlt(to.get(), 0, 0, wanted.cx, wanted.cy, from.get(), 0, 0, renderedSize.cx, renderedSize.cy, SRCCOPY);
  }
  return fitted.release();
}

} // namespace winui
