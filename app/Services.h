#pragma once
// What the main window asks of its surroundings: message boxes, the folder browser, the settings
// store and the built-in addresses. The program passes the real ones; tests answer through their own.
#include <cstdint>
#include <functional>
#include <string>

#include "platform/SettingsStore.h"

class QWidget;

namespace app {

enum class BoxKind {
  Ok,       // OK, no icon
  OkError,  // OK with the error icon
  YesNo,    // Yes and No, no icon
};

class IMessageBox {
 public:
  virtual ~IMessageBox() = default;
  // True for OK or Yes.
  virtual bool Show(QWidget* owner, const std::u16string& text, BoxKind kind) = 0;
};

class IFolderBrowser {
 public:
  virtual ~IFolderBrowser() = default;
  // Opens on initial, with a line that tells the free space of the selection against
  // requiredSize. False when the user cancelled; otherwise chosen holds what was picked.
  virtual bool Browse(QWidget* owner, const std::u16string& initial, const std::u16string& requiredSize,
                      std::u16string& chosen) = 0;
};

struct Services {
  IMessageBox& messageBox;
  IFolderBrowser& folderBrowser;
  platform::CSettingsStore settings;
  std::u16string fileListUrl;
  std::u16string publisherHost;
  std::function<std::uint64_t(std::u16string_view)> freeSpace;
  std::uint32_t httpTimeoutMs;
  // The millisecond tick the progress arithmetic reads.
  std::function<std::uint32_t()> tick;
};

// The services of the installed program: Qt boxes and browser, the user's settings, built-in addresses.
Services DefaultServices(IMessageBox& box, IFolderBrowser& browser);

} // namespace app
