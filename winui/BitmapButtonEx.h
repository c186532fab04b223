#pragma once
// The skinned window's button: an owner-drawn push button that shows one image per state (normal,
// selected, focus, disabled) and a hover image while the pointer is over it. Pixels of the key
// colour are not drawn. No text: everything the user sees is the image, and the keyboard focus a
// dotted rectangle over it. The window text is the button's name for screen readers.
#include <windows.h>

#include "winui/GdiHandles.h"
#include "winui/Subclass.h"

namespace winui {

// Draws image with its top-left corner at x, y, leaving the target unchanged wherever the image
// has exactly the key colour.
void DrawBitmapTransparent(HDC target, HBITMAP image, int x, int y, COLORREF key);

class CBitmapButtonEx : public CSubclassedControl {
 public:
  // Images come from the program's resources by id; 0 stands for none.
  explicit CBitmapButtonEx(HINSTANCE resources = nullptr);

  // The screen density the images are loaded for (96 until set); images loaded before keep theirs.
  void SetDpi(UINT dpi) { m_nDpi = dpi; }
  // Whether the focus rectangle may show (the window hides it until the keyboard is used).
  void ShowFocusCues(bool show) { m_bFocusCues = show; }
  // True when every requested image loaded; the normal image is required.
  bool LoadBitmaps(UINT normal, UINT selected, UINT focus, UINT disabled);
  // Takes the size of the normal image, keeping the button's place.
  void SizeToContent();
  virtual void SetKeyColor(COLORREF key) { m_crKey = key; }
  virtual void SetHoverImage(UINT id);
  // Paints the item as the parent's WM_DRAWITEM asks.
  void DrawItem(const DRAWITEMSTRUCT& item);

  bool IsMouseOver() const { return m_bMouseOver != 0; }

  // The leave notification request, filled by whoever binds the button.
  TRACKMOUSEEVENT m_trackEvent{};

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  HBITMAP Load(UINT id) const;

  HINSTANCE m_hResources;
  UINT m_nDpi = 96;
  bool m_bFocusCues = true;
  UniqueBitmap m_bmpNormal, m_bmpSelected, m_bmpFocus, m_bmpDisabled;
  COLORREF m_crKey = RGB(255, 0, 255);
  int m_bMouseOver = 0;
  UINT m_nHoverImageId = 0;
  UniqueBitmap m_bmpHover;  // released first
};

} // namespace winui
