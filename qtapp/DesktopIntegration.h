#pragma once
// What the desktop shows of a run beyond the window, where the desktop supports it: the whole
// list's progress on the launcher's or taskbar's icon (the launcher-entry signal on the session
// bus), and a notification when the game is ready while the window is not the active one.
#include <QDBusConnection>

#include "window/WindowTables.h"

namespace qtapp {

// The desktop entry the launcher knows the program by.
inline constexpr const char* kDesktopId = "com.valdris_game.Downloader.desktop";

class CDesktopIntegration {
 public:
  explicit CDesktopIntegration(QDBusConnection bus) : m_bus(std::move(bus)) {}

  // The run's state: progress shows while a run is under way, stopped or failed, not before or after.
  void SetState(window::RunState state);
  void SetPercent(int percent);
  // Tells the user the game is ready (the caller knows whether the window is active).
  void NotifyReady();

 private:
  void SendProgress();

  QDBusConnection m_bus;
  bool m_bVisible = false;
  int m_nPercent = -1;
  int m_nSentPercent = -1;
  bool m_bSentVisible = false;
};

} // namespace qtapp
