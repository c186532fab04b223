#pragma once
// What the main window's controller takes from its surroundings: the settings store, the built-in
// addresses, free space, the clock and the starting of other programs. The program passes the real
// ones; tests pass their own.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "download/ListTrust.h"
#include "platform/ErrorCodes.h"
#include "platform/SettingsStore.h"

namespace controller {

// Which thread uses each member: "window" is the window's thread; the worker gets some of them
// through its mediator; the start-up's fetch thread reads the list's address and the trust policy.
struct Services {
  platform::CSettingsStore settings;  // window
  std::u16string fileListUrl;         // start-up's fetch thread
  std::u16string publisherHost;       // window
  // Free bytes of the file system holding a folder. Window, and the worker's thread during a run.
  std::function<std::uint64_t(std::u16string_view)> freeSpace;
  std::uint32_t httpTimeoutMs;  // window (it configures the clients of both other threads)
  // The millisecond tick the progress arithmetic reads. Window, and the worker's thread during a run.
  std::function<std::uint32_t()> tick;
  // Starts a program file in a working folder; 0 or the failure's code. Window.
  std::function<platform::ErrorCode(std::u16string_view path, std::u16string_view workingDir)> launchProgram;
  // Opens an address with the desktop's browser; 0 or the failure's code. Window.
  std::function<platform::ErrorCode(std::u16string_view address)> openAddress;
  // Which file lists are trusted: the publisher's keys and the clock their expiry is judged by.
  // Start-up's fetch thread, then the window (Start judges the expiry again).
  download::TrustPolicy trust;
};

// What a program is built for (its build settings): where its file list is, the host of the
// publisher's pages and the publisher keys it trusts.
struct ProductSettings {
  std::u16string fileListUrl;
  std::u16string publisherHost;
  download::TrustPolicy trust;
};

// The installed program's services: the user's settings, the real clock, free space and launcher,
// with the program's own addresses and trusted keys.
Services DefaultServices(ProductSettings product);

} // namespace controller
