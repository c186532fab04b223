#pragma once
// The boxes the window opens: message boxes, the folder browser and the About box. Tests answer
// the first two themselves.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "controller/MainView.h"

#include <windows.h>

namespace winapp {

struct WinDialogs {
  // True for OK or Yes.
  std::function<bool(HWND owner, std::u16string_view text, controller::BoxKind kind)> messageBox;
  // False when the user cancelled; otherwise chosen holds the folder.
  std::function<bool(HWND owner, std::u16string_view initial, std::u16string_view requiredSize, std::u16string& chosen)>
      browseFolder;
};

// The system's message box (captioned with the program's name) and folder browser, which tells
// the selection's free space against the required size.
WinDialogs DefaultDialogs(std::function<std::uint64_t(std::u16string_view)> freeSpace);

// The program file's name without its extension: the caption of every message box.
std::wstring ProgramName();

void ShowAboutBox(HWND owner);

} // namespace winapp
