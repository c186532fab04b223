#include "platform/Folders.h"

#include "platform/Files.h"

#include <windows.h>
#include <shlobj.h>

namespace platform {

namespace {

bool KnownFolder(REFKNOWNFOLDERID id, std::u16string& out) {
  PWSTR path = nullptr;
  const HRESULT result = SHGetKnownFolderPath(id, KF_FLAG_CREATE, nullptr, &path);
  const bool ok = SUCCEEDED(result) && path != nullptr && path[0] != L'\0';
  if (ok) {
    const std::wstring text(path);
    out.assign(text.begin(), text.end());
  }
  CoTaskMemFree(path);
  return ok;
}

} // namespace

bool GetHomeFolder(std::u16string& out) { return KnownFolder(FOLDERID_Profile, out); }

bool GetProgramFilesFolder(std::u16string& out) { return KnownFolder(FOLDERID_ProgramFiles, out); }

// The roaming application-data folder, where the log lives.
bool GetStateFolder(std::u16string& out) { return KnownFolder(FOLDERID_RoamingAppData, out); }

std::u16string DefaultInstallFolder() { return u"C:\\DOWNLOAD\\VALDRIS"; }

bool IsUserInterfaceKorean() { return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_KOREAN; }

bool Is32BitProcessOn64BitSystem() {
  BOOL wow64 = FALSE;
  return IsWow64Process(GetCurrentProcess(), &wow64) && wow64;
}

} // namespace platform
