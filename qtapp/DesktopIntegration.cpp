#include "qtapp/DesktopIntegration.h"

#include <QDBusMessage>
#include <QStringList>
#include <QVariantMap>

namespace qtapp {

using window::RunState;

void CDesktopIntegration::SetState(RunState state) {
  m_bVisible = state == RunState::Downloading || state == RunState::Stopped || state == RunState::Failed;
  SendProgress();
}

void CDesktopIntegration::SetPercent(int percent) {
  m_nPercent = percent;
  SendProgress();
}

void CDesktopIntegration::SendProgress() {
  if (!m_bus.isConnected()) return;
  const int percent = m_nPercent < 0 ? 0 : m_nPercent;
  // Only what changed goes out: a flood of equal figures costs the bus nothing.
  if (percent == m_nSentPercent && m_bVisible == m_bSentVisible) return;
  m_nSentPercent = percent;
  m_bSentVisible = m_bVisible;
  QDBusMessage update = QDBusMessage::createSignal(QStringLiteral("/com/valdris_game/Downloader"),
                                                   QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                   QStringLiteral("Update"));
  update << QStringLiteral("application://%1").arg(QLatin1String(kDesktopId))
         << QVariantMap{{QStringLiteral("progress"), percent / 100.0},
                        {QStringLiteral("progress-visible"), m_bVisible}};
  m_bus.send(update);
}

void CDesktopIntegration::NotifyReady() {
  if (!m_bus.isConnected()) return;
  QDBusMessage notify = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  notify << QStringLiteral("VALDRIS Downloader") << 0u << QStringLiteral("valdris-downloader")
         << QStringLiteral("VALDRIS is ready")
         << QStringLiteral("Every file is downloaded and verified. Press Launch to start the setup.")
         << QStringList() << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("com.valdris_game.Downloader")}}
         << -1;
  // Without a notification service the call fails quietly: the window shows the same.
  m_bus.send(notify);
}

} // namespace qtapp
