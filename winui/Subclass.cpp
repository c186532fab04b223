#include "winui/Subclass.h"

namespace winui {

namespace {
constexpr UINT_PTR kSubclassId = 0x56414C44;  // one subclass of ours per window
}

bool CSubclassedControl::Attach(HWND window) {
  Detach();
  if (!window || !SetWindowSubclass(window, &SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
    return false;
  m_hWnd = window;
  return true;
}

void CSubclassedControl::Detach() {
  if (!m_hWnd) return;
  RemoveWindowSubclass(m_hWnd, &SubclassProc, kSubclassId);
  m_hWnd = nullptr;
}

LRESULT CALLBACK CSubclassedControl::SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                  DWORD_PTR self) {
  auto* control = reinterpret_cast<CSubclassedControl*>(self);
  if (message == WM_NCDESTROY) {
    // The window is going: the object stays, unbound.
    const LRESULT result = DefSubclassProc(window, message, wParam, lParam);
    RemoveWindowSubclass(window, &SubclassProc, kSubclassId);
    control->m_hWnd = nullptr;
    return result;
  }
  return control->WindowProc(message, wParam, lParam);
}

} // namespace winui
