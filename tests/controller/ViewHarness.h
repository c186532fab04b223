#pragma once
// A window under test for the controller's tables: the view the controller drives, and what that
// view shows, read back. Every system has the recording view; Windows adds its native window.
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "controller/MainView.h"
#include "platform/Utf.h"
#include "window/WindowTables.h"

namespace testsupport {

class ViewHarness {
 public:
  virtual ~ViewHarness() = default;
  virtual controller::IMainView& View() = 0;
  virtual std::u16string TextOf(int id) = 0;
  virtual window::ColourRef ColourOf(int id) = 0;
  virtual bool IsEnabled(int id) = 0;
  virtual int BarOf(int id) = 0;
  virtual bool TimerRunning() = 0;
  virtual bool Prepared() = 0;
  virtual bool Ended() = 0;

  // The message boxes shown, and the answers the user gives: Yes (true) when none is queued.
  std::vector<std::pair<std::string, controller::BoxKind>> shown;
  std::deque<bool> answers;
  // What arrives while a box is open (a modal box runs the window's messages), once.
  std::function<void()> whileShown;
  bool Answer(std::u16string_view text, controller::BoxKind kind) {
    shown.emplace_back(platform::NarrowUtf8(text), kind);
    if (whileShown) std::exchange(whileShown, nullptr)();
    if (answers.empty()) return true;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
  // The folder browser: where it last opened, and what the user picks there (nothing: Cancel).
  std::u16string browsedFrom;
  std::optional<std::u16string> browseAnswer;
  bool Browse(std::u16string_view initial, std::u16string& chosen) {
    browsedFrom = std::u16string(initial);
    if (!browseAnswer) return false;
    chosen = *browseAnswer;
    return true;
  }
  std::string Text(int id) { return platform::NarrowUtf8(TextOf(id)); }
  // The four buttons a run state sets, as they stand.
  bool Buttons(window::RunState state) {
    using namespace controller;
    using namespace window;
    const ButtonStates& b = ButtonsOf(state);
    return IsEnabled(IDC_BUTTON_START) == b.start && IsEnabled(IDC_BUTTON_STOP) == b.stop &&
           IsEnabled(IDC_BUTTON_CHANGE_PATH) == b.changePath && IsEnabled(IDC_BUTTON_RUN) == b.run;
  }
};

// The kinds of view this system has, by name; "recording" everywhere.
std::vector<std::string> ViewKinds();
std::unique_ptr<ViewHarness> MakeView(const std::string& kind);
// The recording view, which every system's MakeView offers.
std::unique_ptr<ViewHarness> MakeRecordingView();

} // namespace testsupport
