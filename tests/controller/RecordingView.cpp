// A view that only writes down what the controller asks of it.
#include <map>

#include <gtest/gtest.h>

#include "controller/MervoDownloaderDlg.h"
#include "controller/ViewHarness.h"

namespace testsupport {

namespace {

using namespace controller;
using namespace window;

class RecordingView : public ViewHarness, public IMainView {
 public:
  IMainView& View() override { return *this; }
  std::u16string TextOf(int id) override { return m_texts[id]; }
  ColourRef ColourOf(int id) override { return m_colours[id]; }
  bool IsEnabled(int id) override { return m_enabled[id]; }
  int BarOf(int id) override { return m_bars[id]; }
  bool TimerRunning() override { return m_timerRunning; }
  bool Prepared() override { return m_prepared; }
  bool Ended() override { return m_ended; }

  void SetText(int id, std::u16string_view text) override { m_texts[id] = std::u16string(text); }
  void SetTextColor(int id, ColourRef colour) override { m_colours[id] = colour; }
  void EnableControl(int id, bool on) override { m_enabled[id] = on; }
  void SetBarPosition(int id, int position) override { m_bars[id] = position; }
  bool ShowMessage(std::u16string_view text, BoxKind kind) override { return Answer(text, kind); }
  bool BrowseForFolder(std::u16string_view initial, std::u16string_view, std::u16string& chosen) override {
    return Browse(initial, chosen);
  }
  void StartTimer(int id, std::uint32_t milliseconds) override {
    EXPECT_EQ(id, TIMER_ELAPSED);
    EXPECT_EQ(milliseconds, 1000u);
    m_timerRunning = true;
  }
  void StopTimer(int) override { m_timerRunning = false; }
  void PrepareWindow() override { m_prepared = true; }
  void EndDialog() override { m_ended = true; }
  download::TargetHandle MessageTarget() const override { return m_queue.Handle(); }

 private:
  std::map<int, std::u16string> m_texts;
  std::map<int, ColourRef> m_colours;
  std::map<int, bool> m_enabled;
  std::map<int, int> m_bars;
  bool m_timerRunning = false;
  bool m_prepared = false;
  bool m_ended = false;
  // Records stay queued here: the tests play their own.
  download::CMessageQueue m_queue;
};

} // namespace

std::unique_ptr<ViewHarness> MakeRecordingView() { return std::make_unique<RecordingView>(); }

} // namespace testsupport
