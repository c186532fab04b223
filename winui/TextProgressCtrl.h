#pragma once
// The skinned window's progress bar: a subclassed progress control that paints itself (a flat
// frame, the fill, the background and a two-coloured text split at the fill's edge) and answers the
// progress-bar messages from its own state, plus messages for text colours, percentage text,
// alignment and marquee size.
#include <string>

#include "skin/ProgressBarState.h"

#include <windows.h>

#include "winui/GdiHandles.h"
#include "winui/Subclass.h"

namespace winui {

class CTextProgressCtrl : public CSubclassedControl {
 public:
  CTextProgressCtrl() = default;
  // The style is the window's, read when the object binds to it.
  bool AttachBar(HWND bar);
  // What the bar shows now: the percentage, or the window text.
  std::u16string Text() const;

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Paint(HDC target);
  skin::SystemColours System() const;

  skin::CProgressBarState m_state;
  UniqueFont m_fontVertical;
};

} // namespace winui
