#pragma once
// A text label over the window's background picture: it keeps a copy of the parent's pixels
// beneath it, made once, paints that copy as its background and lets the static control draw the
// text unfilled in its own colour, so exactly the picture shows around the glyphs.
#include <windows.h>

#include "winui/GdiHandles.h"
#include "winui/Subclass.h"

namespace winui {

class CTransparentStatic : public CSubclassedControl {
 public:
  void SetTextColor(COLORREF colour);
  COLORREF TextColor() const { return m_crText; }
  // The answer to the label's colour request, which the parent passes on to it.
  HBRUSH OnCtlColor(HDC dc) const;
  // The picture beneath changed (a new scale): the next erase copies it again.
  void ForgetBackground() { m_bmpBackground.reset(); }

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void OnEraseBkgnd(HDC dc);

  COLORREF m_crText = RGB(149, 149, 151);
  UniqueBitmap m_bmpBackground;
};

} // namespace winui
