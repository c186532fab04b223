#include "platform/Console.h"

#include <stdio.h>
#include <windows.h>
#include <io.h>

namespace platform {

namespace {

std::atomic<std::atomic<bool>*> g_running{nullptr};

// Called on a thread of its own by the system: Ctrl-C, Ctrl-Break, the console closing.
BOOL WINAPI OnConsoleControl(DWORD) {
  if (std::atomic<bool>* running = g_running.load()) {
    running->store(false);
    return TRUE;
  }
  return FALSE;
}

} // namespace

void ClearFlagOnStopRequest(std::atomic<bool>* running) {
  g_running = running;
  SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
}

bool IsTerminal(Stream stream) {
  if (_isatty(_fileno(stream == Stream::Out ? stdout : stderr)) == 0) return false;
  // The live line rewrites itself with escape sequences: let the console read them.
  const HANDLE console = GetStdHandle(stream == Stream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(console, &mode)) SetConsoleMode(console, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  return true;
}

std::u16string CurrentFolder() {
  wchar_t path[MAX_PATH + 1];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH + 1, path);
  if (length == 0 || length > MAX_PATH) return {};
  return std::u16string(path, path + length);
}

const char* StopRequestWords() { return "Ctrl-C (or closing the console window)"; }
const char* StateFolderWords() { return "%APPDATA%\\Mervo_Downloader"; }
const char* DefaultInstallFolderWords() { return "C:\\DOWNLOAD\\VALDRIS"; }

} // namespace platform
