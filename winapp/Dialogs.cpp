#include "winapp/Dialogs.h"

#include "core/StringTable.h"
#include "core/SystemQueries.h"
#include "core/Text.h"

#include <windows.h>
#include <shlobj.h>

#include "winapp/Resources.h"

namespace winapp {

namespace {

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

bool ShowMessageBox(HWND owner, std::u16string_view text, controller::BoxKind kind) {
  UINT type = MB_OK;
  if (kind == controller::BoxKind::OkError) type = MB_OK | MB_ICONERROR;
  else if (kind == controller::BoxKind::YesNo) type = MB_YESNO;
  const int answer = MessageBoxW(owner, Wide(std::u16string(text)), ProgramName().c_str(), type);
  return answer == IDOK || answer == IDYES;
}

struct BrowseContext {
  std::u16string initial;
  std::u16string requiredSize;
  std::function<std::uint64_t(std::u16string_view)> freeSpace;
};

void ShowFreeSpace(HWND browser, const BrowseContext& context, const std::u16string& folder) {
  const std::u16string line = core::LoadResString(core::IDS_NEED_FREE_SPACE, context.requiredSize,
                                                  core::FormatByteSize(context.freeSpace(folder)));
  SendMessageW(browser, BFFM_SETSTATUSTEXTW, 0, reinterpret_cast<LPARAM>(Wide(line)));
}

int CALLBACK BrowseCallback(HWND browser, UINT message, LPARAM lParam, LPARAM data) {
  const auto& context = *reinterpret_cast<const BrowseContext*>(data);
  if (message == BFFM_INITIALIZED) {
    // Opens on the current folder, selected, so the line speaks of it at once.
    SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(Wide(context.initial)));
    ShowFreeSpace(browser, context, context.initial);
  } else if (message == BFFM_SELCHANGED) {
    wchar_t path[MAX_PATH] = {};
    if (SHGetPathFromIDListW(reinterpret_cast<PCIDLIST_ABSOLUTE>(lParam), path))
      ShowFreeSpace(browser, context, std::u16string(path, path + wcslen(path)));
  }
  return 0;
}

bool BrowseForFolder(HWND owner, std::u16string_view initial, std::u16string_view requiredSize,
                     std::u16string& chosen, const std::function<std::uint64_t(std::u16string_view)>& freeSpace) {
  BrowseContext context{std::u16string(initial), std::u16string(requiredSize), freeSpace};
  BROWSEINFOW info{};
  info.hwndOwner = owner;
  info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
  info.lpfn = &BrowseCallback;
  info.lParam = reinterpret_cast<LPARAM>(&context);
  PIDLIST_ABSOLUTE selection = SHBrowseForFolderW(&info);
  if (!selection) return false;
  wchar_t path[MAX_PATH] = {};
  const bool ok = SHGetPathFromIDListW(selection, path) != FALSE;
  CoTaskMemFree(selection);
  if (ok) chosen.assign(path, path + wcslen(path));
  return ok;
}

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  if (message == WM_INITDIALOG) {
    // The template's texts are the design's Korean ones: the box speaks the user's language instead.
    SetWindowTextW(dialog, Wide(core::LoadUiString(core::IDS_ABOUT_CAPTION)));
    SetDlgItemTextW(dialog, IDC_ABOUT_TEXT, Wide(core::LoadUiString(core::IDS_ABOUT_TEXT)));
    SetDlgItemTextW(dialog, IDOK, Wide(core::LoadUiString(core::IDS_ABOUT_OK)));
    return TRUE;
  }
  if (message == WM_COMMAND && (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL)) {
    EndDialog(dialog, LOWORD(wParam));
    return TRUE;
  }
  return FALSE;
}

} // namespace

std::wstring ProgramName() {
  wchar_t path[MAX_PATH] = {};
  const DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring name(path, n);
  if (const auto slash = name.find_last_of(L"\\/"); slash != std::wstring::npos) name.erase(0, slash + 1);
  if (const auto dot = name.find_last_of(L'.'); dot != std::wstring::npos) name.erase(dot);
  return name;
}

WinDialogs DefaultDialogs(std::function<std::uint64_t(std::u16string_view)> freeSpace) {
  return WinDialogs{&ShowMessageBox,
                    [freeSpace = std::move(freeSpace)](HWND owner, std::u16string_view initial,
                                                       std::u16string_view requiredSize, std::u16string& chosen) {
                      return BrowseForFolder(owner, initial, requiredSize, chosen, freeSpace);
                    }};
}

void ShowAboutBox(HWND owner) {
  DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_ABOUTBOX), owner, &AboutProc, 0);
}

} // namespace winapp
