#pragma once
// What the main window's controller asks of a window: one interface, so the same controller drives
// the Qt window on Linux and a native window on Windows, and tests can record what it asked.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "download/Messages.h"
#include "window/Colour.h"
#include "window/WindowTables.h"

namespace controller {

// The window's vocabulary, which every view shares with the controller.
using window::ColourRef;
using window::RunState;

enum class BoxKind {
  Ok,       // OK, no icon
  OkError,  // OK with the error icon
  YesNo,    // Yes and No, no icon
};

class IMainView {
 public:
  virtual ~IMainView() = default;

  // Controls are named by their ids (ControlIds.h).
  virtual void SetText(int id, std::u16string_view text) = 0;
  virtual void SetTextColor(int id, ColourRef colour) = 0;
  virtual void EnableControl(int id, bool enabled) = 0;
  virtual void SetBarPosition(int id, int position) = 0;
  // A message box with the program's name as its caption; true for OK or Yes.
  virtual bool ShowMessage(std::u16string_view text, BoxKind kind) = 0;
  // The folder browser, opened on `initial`, with a line telling the selection's free space against
  // `requiredSize`. False when the user cancelled; otherwise `chosen` holds the folder.
  virtual bool BrowseForFolder(std::u16string_view initial, std::u16string_view requiredSize,
                               std::u16string& chosen) = 0;
  // A timer that calls the controller's OnTimer(id) every `milliseconds` until stopped.
  virtual void StartTimer(int id, std::uint32_t milliseconds) = 0;
  virtual void StopTimer(int id) = 0;
  // Runs `work` (the start-up's fetch, on a thread of the view's) while the player sees that the
  // program is connecting and may cancel: `cancel` then makes the work end soon. False when the
  // player cancelled. Views without a screen run it in place.
  virtual bool WaitForStartup(std::u16string_view status, const std::function<void()>& work,
                              const std::function<void()>& cancel) {
    (void)status;
    (void)cancel;
    work();
    return true;
  }
  // The window's own steps of the start-up: skin, bars, buttons, background, title and position.
  virtual void PrepareWindow() = 0;
  // The run's state changed; a window may show it beyond the buttons (a taskbar button's progress).
  virtual void ShowRunState(RunState) {}
  // Ends the dialog: the window closes and the program ends.
  virtual void EndDialog() = 0;
  // Where the worker posts its records; the view hands them to the controller on its own thread.
  virtual download::TargetHandle MessageTarget() const = 0;
};

} // namespace controller
