#pragma once
// A small window that says what the start-up is doing while its work runs on a thread, with a
// Cancel button. It shows only when the work takes longer than a moment, so a quick start-up
// shows nothing before the main window.
#include <functional>

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace qtapp {

class CStartupWait : public QDialog {
 public:
  static constexpr int kShowAfterMs = 300;

  explicit CStartupWait(const QString& status, QWidget* parent = nullptr);
  // Runs `work` on a thread while the window's events go on; Cancel (or closing the window) calls
  // `cancel` once and waits for the work to end. False when the player cancelled.
  bool Run(const std::function<void()>& work, const std::function<void()>& cancel);

 protected:
  void reject() override;

 private:
  void Cancel();

  QVBoxLayout m_layout;
  QLabel m_status;
  QProgressBar m_bar;
  QPushButton m_cancel;
  std::function<void()> m_onCancel;
  bool m_bCancelled = false;
};

} // namespace qtapp
