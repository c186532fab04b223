#include "winapp/Taskbar.h"

namespace winapp {

using window::RunState;

TBPFLAG TaskbarStateOf(RunState state) {
  switch (state) {
    case RunState::Downloading: return TBPF_NORMAL;
    case RunState::Stopped: return TBPF_PAUSED;
    case RunState::Failed: return TBPF_ERROR;
    case RunState::Ready:
    case RunState::Complete: break;
  }
  return TBPF_NOPROGRESS;
}

void CTaskbarProgress::Attach(HWND window) {
  // Announced again (the shell restarted): the list is made anew.
  m_hWnd = window;
  m_list.reset();
  ITaskbarList3* list = nullptr;
  if (FAILED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER, IID_ITaskbarList3,
                              reinterpret_cast<void**>(&list))))
    return;
  m_list.reset(list);
  if (FAILED(m_list->HrInit())) {
    m_list.reset();
    return;
  }
  SetState(m_state);
}

void CTaskbarProgress::SetState(RunState state) {
  m_state = state;
  if (!m_list) return;
  const TBPFLAG flag = TaskbarStateOf(state);
  m_list->SetProgressState(m_hWnd, flag);
  if (flag != TBPF_NOPROGRESS) m_list->SetProgressValue(m_hWnd, static_cast<ULONGLONG>(m_nPercent), 100);
}

void CTaskbarProgress::SetPercent(int percent) {
  m_nPercent = percent;
  if (m_list && TaskbarStateOf(m_state) != TBPF_NOPROGRESS)
    m_list->SetProgressValue(m_hWnd, static_cast<ULONGLONG>(percent), 100);
}

} // namespace winapp
