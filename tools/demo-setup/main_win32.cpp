// The demo game's setup program on Windows: it shows that it was started, and where, by a file in
// its working folder and a message box.
#include <string>

#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t folder[MAX_PATH] = {};
  GetCurrentDirectoryW(MAX_PATH, folder);
  const std::wstring message = std::wstring(L"VALDRIS setup started in ") + folder;
  const HANDLE file = CreateFileW(L"setup-started.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                  nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    char utf8[4 * MAX_PATH + 64] = {};
    const int n = WideCharToMultiByte(CP_UTF8, 0, message.c_str(), -1, utf8, sizeof utf8, nullptr, nullptr);
    DWORD written = 0;
    if (n > 1) WriteFile(file, utf8, static_cast<DWORD>(n - 1), &written, nullptr);
    CloseHandle(file);
  }
  MessageBoxW(nullptr, message.c_str(), L"VALDRIS Setup", MB_OK);
  return 0;
}
