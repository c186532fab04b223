#include "winapp/Dialogs.h"

#include "core/StringTable.h"
#include "core/SystemQueries.h"
#include "core/Text.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>
#include <wrl/client.h>

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

// The old shell browser, where the folder picker is missing (before Vista).
bool BrowseForFolderOldStyle(HWND owner, std::u16string_view initial, std::u16string_view requiredSize,
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

// The folder picker tells the free space of the folder it shows (or the one selected in it) in a
// line of its own, as the folder changes.
// COM interfaces have no virtual destructor by design: objects end through Release, never through
// delete on the interface.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class CFreeSpaceEvents final : public IFileDialogEvents {
 public:
  static constexpr DWORD kLineId = 1;
  explicit CFreeSpaceEvents(const BrowseContext& context) : m_context(context) {}
  ~CFreeSpaceEvents() = default;
  CFreeSpaceEvents(const CFreeSpaceEvents&) = delete;
  CFreeSpaceEvents& operator=(const CFreeSpaceEvents&) = delete;

  std::wstring Line(const std::u16string& folder) const {
    const std::u16string line = core::LoadResString(core::IDS_NEED_FREE_SPACE, m_context.requiredSize,
                                                    core::FormatByteSize(m_context.freeSpace(folder)));
    return std::wstring(line.begin(), line.end());
  }
  void Update(IFileDialog* dialog) const {
    Microsoft::WRL::ComPtr<IShellItem> item;
    if (FAILED(dialog->GetCurrentSelection(&item)) || !item) dialog->GetFolder(&item);
    std::u16string path;
    if (!item || !PathOf(item.Get(), path)) return;
    Microsoft::WRL::ComPtr<IFileDialogCustomize> customize;
    if (SUCCEEDED(dialog->QueryInterface(IID_PPV_ARGS(&customize))))
      customize->SetControlLabel(kLineId, Line(path).c_str());
  }
  static bool PathOf(IShellItem* item, std::u16string& path) {
    wchar_t* name = nullptr;
    if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &name)) || !name) return false;
    path.assign(name, name + wcslen(name));
    CoTaskMemFree(name);
    return true;
  }

  // IUnknown: the object lives on the caller's stack for the dialog's whole life.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IFileDialogEvents) {
      *object = static_cast<IFileDialogEvents*>(this);
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }
  // IFileDialogEvents
  HRESULT STDMETHODCALLTYPE OnFileOk(IFileDialog*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnFolderChanging(IFileDialog*, IShellItem*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnFolderChange(IFileDialog* dialog) override {
    Update(dialog);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnSelectionChange(IFileDialog* dialog) override {
    Update(dialog);
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnShareViolation(IFileDialog*, IShellItem*, FDE_SHAREVIOLATION_RESPONSE*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE OnTypeChange(IFileDialog*) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnOverwrite(IFileDialog*, IShellItem*, FDE_OVERWRITE_RESPONSE*) override { return E_NOTIMPL; }

 private:
  const BrowseContext& m_context;
};
#pragma GCC diagnostic pop

// The system's folder picker: resizable, with a new-folder button, opened on the current folder.
bool BrowseForFolder(HWND owner, std::u16string_view initial, std::u16string_view requiredSize,
                     std::u16string& chosen, const std::function<std::uint64_t(std::u16string_view)>& freeSpace) {
  Microsoft::WRL::ComPtr<IFileOpenDialog> dialog;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog))))
    return BrowseForFolderOldStyle(owner, initial, requiredSize, chosen, freeSpace);
  const BrowseContext context{std::u16string(initial), std::u16string(requiredSize), freeSpace};
  CFreeSpaceEvents events(context);
  FILEOPENDIALOGOPTIONS options = 0;
  dialog->GetOptions(&options);
  dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST | FOS_NOCHANGEDIR);
  // Opens on the current folder, or on the nearest folder above it that exists.
  std::wstring start(context.initial.begin(), context.initial.end());
  Microsoft::WRL::ComPtr<IShellItem> folder;
  while (!start.empty() && FAILED(SHCreateItemFromParsingName(start.c_str(), nullptr, IID_PPV_ARGS(&folder)))) {
    const auto slash = start.find_last_of(L"\\/");
    start = slash == std::wstring::npos ? std::wstring() : start.substr(0, slash);
    if (!start.empty() && start.back() == L':') start += L'\\';  // "C:" alone is the current folder on C:
  }
  if (folder) dialog->SetFolder(folder.Get());
  Microsoft::WRL::ComPtr<IFileDialogCustomize> customize;
  if (SUCCEEDED(dialog->QueryInterface(IID_PPV_ARGS(&customize))))
    customize->AddText(CFreeSpaceEvents::kLineId, events.Line(context.initial).c_str());
  DWORD cookie = 0;
  const bool advised = SUCCEEDED(dialog->Advise(&events, &cookie));
  const HRESULT shown = dialog->Show(owner);
  if (advised) dialog->Unadvise(cookie);
  if (FAILED(shown)) return false;  // cancelled
  Microsoft::WRL::ComPtr<IShellItem> result;
  std::u16string path;
  if (FAILED(dialog->GetResult(&result)) || !CFreeSpaceEvents::PathOf(result.Get(), path)) return false;
  // A name typed into the picker may carry "." or ".." (Wine passes them through): the folder's own path.
  wchar_t full[MAX_PATH] = {};
  const DWORD n = GetFullPathNameW(reinterpret_cast<const wchar_t*>(path.c_str()), MAX_PATH, full, nullptr);
  if (n > 0 && n < MAX_PATH) path.assign(full, full + n);
  if (path.size() > 3 && (path.back() == u'\\' || path.back() == u'/')) path.pop_back();
  chosen = std::move(path);
  return true;
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
