#include "qtapp/StartupWait.h"

#include <atomic>
#include <thread>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include "core/StringTable.h"

namespace qtapp {

CStartupWait::CStartupWait(const QString& status, QWidget* parent) : QDialog(parent), m_layout(this), m_status(status) {
  setObjectName(QStringLiteral("startupWait"));
  setWindowTitle(QApplication::applicationName());
  m_bar.setRange(0, 0);  // busy: how long the server takes is not known
  m_bar.setTextVisible(false);
  m_cancel.setText(QString::fromStdU16String(core::LoadUiString(core::IDS_NAME_CANCEL)));
  m_layout.addWidget(&m_status);
  m_layout.addWidget(&m_bar);
  m_layout.addWidget(&m_cancel, 0, Qt::AlignRight);
  connect(&m_cancel, &QPushButton::clicked, this, &CStartupWait::Cancel);
  setMinimumWidth(320);
}

void CStartupWait::reject() { Cancel(); }

void CStartupWait::Cancel() {
  if (m_bCancelled) return;
  m_bCancelled = true;
  m_cancel.setEnabled(false);
  if (m_onCancel) m_onCancel();
}

bool CStartupWait::Run(const std::function<void()>& work, const std::function<void()>& cancel) {
  m_onCancel = cancel;
  m_bCancelled = false;
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done = true;
  });
  QEventLoop loop;
  QElapsedTimer since;
  since.start();
  QTimer poll;
  poll.setInterval(20);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done) loop.quit();
    else if (!isVisible() && !m_bCancelled && since.elapsed() >= kShowAfterMs) show();
  });
  poll.start();
  loop.exec();
  worker.join();
  hide();
  m_onCancel = nullptr;
  return !m_bCancelled;
}

} // namespace qtapp
