#include "winapp/StartupWait.h"

#include <atomic>
#include <string>
#include <thread>

#include "core/StringTable.h"
#include "winapp/Dialogs.h"

#include <windows.h>
#include <commctrl.h>

#include "winapp/Resources.h"

namespace winapp {

namespace {

struct WaitState {
  std::function<void()> cancel;
  bool cancelled = false;
};

INT_PTR CALLBACK WaitProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    SetWindowLongPtrW(dialog, DWLP_USER, lParam);
    return TRUE;
  }
  auto* state = reinterpret_cast<WaitState*>(GetWindowLongPtrW(dialog, DWLP_USER));
  const bool cancelAsked = (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) || message == WM_CLOSE;
  if (!state || !cancelAsked) return FALSE;
  if (!state->cancelled) {
    state->cancelled = true;
    EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
    state->cancel();
  }
  return TRUE;
}

} // namespace

bool RunWithStartupWait(std::u16string_view status, const std::function<void()>& work,
                        const std::function<void()>& cancel) {
  WaitState state{cancel};
  const HWND dialog = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_STARTUP_WAIT), nullptr,
                                         &WaitProc, reinterpret_cast<LPARAM>(&state));
  if (dialog) {
    const std::u16string text(status);
    SetWindowTextW(dialog, ProgramName().c_str());
    SetDlgItemTextW(dialog, IDC_STARTUP_STATUS, reinterpret_cast<const wchar_t*>(text.c_str()));
    const std::u16string cancelName = core::LoadUiString(core::IDS_NAME_CANCEL);
    SetDlgItemTextW(dialog, IDCANCEL, reinterpret_cast<const wchar_t*>(cancelName.c_str()));
    SendDlgItemMessageW(dialog, IDC_STARTUP_BAR, PBM_SETMARQUEE, TRUE, 30);
  }
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done = true;
  });
  const DWORD started = GetTickCount();
  while (!done) {
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (dialog && IsDialogMessageW(dialog, &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (dialog && !state.cancelled && !IsWindowVisible(dialog) && GetTickCount() - started >= kStartupWaitShowAfterMs)
      ShowWindow(dialog, SW_SHOW);
  }
  worker.join();
  if (dialog) DestroyWindow(dialog);
  return !state.cancelled;
}

} // namespace winapp
