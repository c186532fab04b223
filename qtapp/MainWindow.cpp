#include "qtapp/MainWindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

#include "qtapp/AboutDlg.h"
#include "qtapp/StartupWait.h"

namespace qtapp {

using namespace controller;
using namespace window;

namespace {

// Tells the window's thread that records wait in its inbox.
class CInboxEvent : public QEvent {
 public:
  static QEvent::Type Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  CInboxEvent() : QEvent(Type()) {}
};

QString ToQString(std::u16string_view text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// A display's pace: about 60 frames a second.
constexpr int kFrameMs = 16;

} // namespace

CMainWindow::CMainWindow(IMessageBox& box, IFolderBrowser& browser, Services services, QDBusConnection desktopBus)
    : m_box(box), m_browser(browser), m_desktop(std::move(desktopBus)) {
  m_hTarget = download::RegisterMessageTarget(this);
  m_pDlg = std::make_unique<CMervoDownloaderDlg>(*this, std::move(services));
  connect(&m_timer, &QTimer::timeout, this, [this] { m_pDlg->OnTimer(m_nTimerId); });
  m_frameTimer.setSingleShot(true);
  connect(&m_frameTimer, &QTimer::timeout, this, &CMainWindow::DrawFrame);
  connect(this, &CSkinnedWindow::closeRequested, this, [this] { m_pDlg->OnBnClickedClose(); });
  connect(this, &CSkinnedWindow::aboutRequested, this, &CMainWindow::ShowAbout);
  const auto onClick = [this](int id, void (CMervoDownloaderDlg::*handler)()) {
    connect(Button(id), &QAbstractButton::clicked, this, [this, handler] { (m_pDlg.get()->*handler)(); });
  };
  onClick(IDC_BUTTON_START, &CMervoDownloaderDlg::OnBnClickedStart);
  onClick(IDC_BUTTON_STOP, &CMervoDownloaderDlg::OnBnClickedStop);
  onClick(IDC_BUTTON_CHANGE_PATH, &CMervoDownloaderDlg::OnBnClickedChangePath);
  onClick(IDC_BUTTON_RUN, &CMervoDownloaderDlg::OnBnClickedRun);
  connect(Label(IDC_STATIC_FORUM), &qtui::CTransparentStatic::clicked, this, [this] { m_pDlg->OnStnClickedForum(); });
  connect(Label(IDC_STATIC_REGISTER), &qtui::CTransparentStatic::clicked, this,
          [this] { m_pDlg->OnStnClickedRegister(); });
}

CMainWindow::~CMainWindow() {
  // The controller goes first: its end stops the worker, which may still post until then.
  m_pDlg.reset();
  download::UnregisterMessageTarget(m_hTarget);
}

std::u16string CMainWindow::Text(int id) const {
  const auto pending = m_pendingTexts.find(id);
  return pending != m_pendingTexts.end() ? pending->second : Label(id)->GetWindowText().toStdU16String();
}

int CMainWindow::BarPosition(int id) const {
  const auto pending = m_pendingBars.find(id);
  return pending != m_pendingBars.end() ? pending->second
                                        : static_cast<int>(Bar(id)->SendMessage(skin::kBarGetPos));
}

void CMainWindow::SetText(int id, std::u16string_view text) {
  m_pendingTexts[id] = std::u16string(text);
  ScheduleFrame();
}

void CMainWindow::ScheduleFrame() {
  if (m_frameTimer.isActive()) return;
  const qint64 since = m_sinceFrame.isValid() ? m_sinceFrame.elapsed() : kFrameMs;
  if (since >= kFrameMs) DrawFrame();
  else m_frameTimer.start(static_cast<int>(kFrameMs - since));
}

void CMainWindow::DrawPendingFrame() {
  if (!m_pendingTexts.empty() || !m_pendingBars.empty()) DrawFrame();
}

void CMainWindow::DrawFrame() {
  for (const auto& [id, text] : m_pendingTexts) Label(id)->SetWindowText(ToQString(text));
  for (const auto& [id, position] : m_pendingBars) {
    Bar(id)->SendMessage(qtui::kBarSetPos, static_cast<std::uintptr_t>(position));
    if (id == IDC_PROGRESS_TOTAL) m_desktop.SetPercent(position);
  }
  m_pendingTexts.clear();
  m_pendingBars.clear();
  m_sinceFrame.start();
  ++m_nFrames;
}

void CMainWindow::SetTextColor(int id, ColourRef colour) { Label(id)->SetTextColor(colour); }

void CMainWindow::EnableControl(int id, bool enabled) {
  // A new state shows together with the figures that led to it.
  DrawPendingFrame();
  Control(id)->setEnabled(enabled);
}

void CMainWindow::SetBarPosition(int id, int position) {
  m_pendingBars[id] = position;
  ScheduleFrame();
}

bool CMainWindow::WaitForStartup(std::u16string_view status, const std::function<void()>& work,
                                 const std::function<void()>& cancel) {
  CStartupWait wait(QString::fromStdU16String(std::u16string(status)));
  return wait.Run(work, cancel);
}

bool CMainWindow::ShowMessage(std::u16string_view text, BoxKind kind) {
  DrawPendingFrame();
  return m_box.Show(this, std::u16string(text), kind);
}

bool CMainWindow::BrowseForFolder(std::u16string_view initial, std::u16string_view requiredSize,
                                  std::u16string& chosen) {
  return m_browser.Browse(this, std::u16string(initial), std::u16string(requiredSize), chosen);
}

void CMainWindow::StartTimer(int id, std::uint32_t milliseconds) {
  m_nTimerId = id;
  m_timer.start(static_cast<int>(milliseconds));
}

void CMainWindow::StopTimer(int) { m_timer.stop(); }

void CMainWindow::PrepareWindow() {
  InitProgressBars();
  InitButtons();
  InitBackground();
  setWindowTitle(ToQString(kWindowTitle));
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
}

void CMainWindow::ShowRunState(RunState state) {
  m_desktop.SetState(state);
  if (state == RunState::Complete && !isActiveWindow()) m_desktop.NotifyReady();
}

void CMainWindow::EndDialog() {
  AllowClose();
  close();
  emit ended();
}

void CMainWindow::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

void CMainWindow::OnPost(std::uint32_t message, std::unique_ptr<download::MessageRecord> record) {
  // Records queue in the inbox; only the first of a batch wakes the window's thread, which then
  // takes them all, in order. Qt frees the event; a window that is gone drops the inbox with it.
  bool wake = false;
  {
    const std::lock_guard<std::mutex> lock(m_inboxMutex);
    wake = m_inbox.empty();
    m_inbox.push_back({message, std::move(record)});
  }
  if (wake) QCoreApplication::postEvent(this, std::make_unique<CInboxEvent>().release());
}

bool CMainWindow::event(QEvent* event) {
  if (event->type() != CInboxEvent::Type()) return CSkinnedWindow::event(event);
  std::deque<Posted> batch;
  {
    const std::lock_guard<std::mutex> lock(m_inboxMutex);
    batch.swap(m_inbox);
  }
  for (Posted& posted : batch) {
    download::DispatchRecord(
        posted.message, std::move(posted.record),
        [this](std::unique_ptr<download::DownloadProgress> record) { m_pDlg->OnDownloadProgress(std::move(record)); },
        [this](std::unique_ptr<download::DownloadResult> record) { m_pDlg->OnDownloadResult(std::move(record)); });
  }
  return true;
}

} // namespace qtapp
