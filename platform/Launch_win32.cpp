// Starting other programs through the shell: the setup program "open"ed in its folder, addresses
// handed to the user's browser.
#include "platform/Launch.h"

#include <string>
#include <windows.h>
#include <shellapi.h>

namespace platform {

namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

ErrorCode ShellOpen(std::u16string_view target, std::u16string_view workingDir) {
  const std::wstring file = Wide(target);
  const std::wstring folder = Wide(workingDir);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  info.lpVerb = L"open";
  info.lpFile = file.c_str();
  info.lpDirectory = folder.empty() ? nullptr : folder.c_str();
  info.nShow = SW_SHOWNORMAL;
  return ShellExecuteExW(&info) ? ERROR_SUCCESS : GetLastError();
}

} // namespace

ErrorCode LaunchProgram(std::u16string_view path, std::u16string_view workingDir) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return ERROR_ACCESS_DENIED;
  return ShellOpen(path, workingDir);
}

ErrorCode OpenWithDesktop(std::u16string_view target) { return ShellOpen(target, {}); }

} // namespace platform
