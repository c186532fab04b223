#pragma once
// A control object bound to an existing window: its messages reach the object first, through the
// common controls' subclassing, until the object lets go of the window.
#include <windows.h>
#include <commctrl.h>

namespace winui {

class CSubclassedControl {
 public:
  CSubclassedControl() = default;
  virtual ~CSubclassedControl() { Detach(); }
  CSubclassedControl(const CSubclassedControl&) = delete;
  CSubclassedControl& operator=(const CSubclassedControl&) = delete;

  // Binds the object to the window; false when the window cannot be subclassed.
  bool Attach(HWND window);
  void Detach();
  HWND Hwnd() const { return m_hWnd; }

 protected:
  // The object's handling of a message; Default passes it on to the control underneath.
  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) = 0;
  LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam) { return DefSubclassProc(m_hWnd, message, wParam, lParam); }

 private:
  static LRESULT CALLBACK SubclassProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self);
  HWND m_hWnd = nullptr;
};

} // namespace winui
