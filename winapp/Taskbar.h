#pragma once
// The taskbar button's progress: the whole list's percentage, with the paused and error colours
// for a stopped or failed run.
#include <memory>

#include "window/WindowTables.h"

#include <windows.h>
#include <shobjidl.h>

namespace winapp {

// The taskbar's state for a run state.
TBPFLAG TaskbarStateOf(window::RunState state);

class CTaskbarProgress {
 public:
  // Called when the taskbar announces the window's button; before that nothing is shown.
  void Attach(HWND window);
  void SetState(window::RunState state);
  void SetPercent(int percent);

 private:
  struct Releaser {
    void operator()(ITaskbarList3* list) const { list->Release(); }
  };
  std::unique_ptr<ITaskbarList3, Releaser> m_list;
  HWND m_hWnd = nullptr;
  window::RunState m_state = window::RunState::Ready;
  int m_nPercent = 0;
};

} // namespace winapp
