// Starting other programs through the shell: the setup program "open"ed in its folder, addresses
// handed to the program that opens web pages.
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

// The program the system opens ".htm" files with; empty when there is none. The lookup needs a file
// of that kind: a scratch file of a unique name in the temporary folder, so no file of the user's
// is ever overwritten or removed.
std::wstring DefaultBrowserPath() {
  wchar_t folder[MAX_PATH] = {}, scratch[MAX_PATH] = {};
  if (!GetTempPathW(MAX_PATH, folder) || !GetTempFileNameW(folder, L"vdl", 0, scratch)) return {};
  DeleteFileW(scratch);
  const std::wstring page = std::wstring(scratch) + L".htm";
  const HANDLE file = CreateFileW(page.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  CloseHandle(file);
  wchar_t browser[MAX_PATH] = {};
  const bool found = reinterpret_cast<INT_PTR>(FindExecutableW(page.c_str(), nullptr, browser)) > 32;
  DeleteFileW(page.c_str());
  return found ? std::wstring(browser) : std::wstring();
}

} // namespace

ErrorCode LaunchProgram(std::u16string_view path, std::u16string_view workingDir) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return ERROR_ACCESS_DENIED;
  return ShellOpen(path, workingDir);
}

ErrorCode OpenWithDesktop(std::u16string_view target) {
  // The browser is started with the address as its command line; without one the shell opens it.
  const std::wstring browser = DefaultBrowserPath();
  if (browser.empty()) return ShellOpen(target, {});
  const std::wstring address = Wide(target);
  const auto result = reinterpret_cast<INT_PTR>(
      ShellExecuteW(nullptr, L"open", browser.c_str(), address.c_str(), nullptr, SW_SHOWNORMAL));
  return result > 32 ? ERROR_SUCCESS : static_cast<ErrorCode>(GetLastError());
}

} // namespace platform
