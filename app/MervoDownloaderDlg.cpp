#include "MervoDownloaderDlg.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>

#include "AboutDlg.h"
#include "InstallFolder.h"
#include "core/Log.h"
#include "core/StringTable.h"
#include "core/SystemQueries.h"
#include "core/Text.h"
#include "download/FileListFetch.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Launch.h"
#include "platform/Utf.h"

namespace app {

using core::LOG_ERROR;
using core::LOG_INFO;
using core::theLog;
using namespace ui;

namespace {

// A worker record on its way to the window's thread.
class CWorkerEvent : public QEvent {
 public:
  static QEvent::Type Type() {
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
  }
  CWorkerEvent(std::uint32_t message, std::unique_ptr<download::MessageRecord> record)
      : QEvent(Type()), m_message(message), m_record(std::move(record)) {}
  std::uint32_t m_message;
  std::unique_ptr<download::MessageRecord> m_record;
};

std::u16string Widen(const std::string& text) { return platform::WidenUtf8(text); }

} // namespace

CMervoDownloaderDlg::CMervoDownloaderDlg(Services services) : m_services(std::move(services)) {
  m_hTarget = download::RegisterMessageTarget(this);
  m_timer.setInterval(1000);
  connect(&m_timer, &QTimer::timeout, this, [this] { OnTimer(TIMER_ELAPSED); });
  connect(this, &CSkinnedWindow::closeRequested, this, &CMervoDownloaderDlg::OnBnClickedClose);
  connect(this, &CSkinnedWindow::aboutRequested, this, &CMervoDownloaderDlg::ShowAbout);
  connect(Button(IDC_BUTTON_START), &QAbstractButton::clicked, this, &CMervoDownloaderDlg::OnBnClickedStart);
  connect(Button(IDC_BUTTON_STOP), &QAbstractButton::clicked, this, &CMervoDownloaderDlg::OnBnClickedStop);
  connect(Button(IDC_BUTTON_CHANGE_PATH), &QAbstractButton::clicked, this, &CMervoDownloaderDlg::OnBnClickedChangePath);
  connect(Button(IDC_BUTTON_RUN), &QAbstractButton::clicked, this, &CMervoDownloaderDlg::OnBnClickedRun);
  connect(Label(IDC_STATIC_FORUM), &CTransparentStatic::clicked, this, &CMervoDownloaderDlg::OnStnClickedForum);
  connect(Label(IDC_STATIC_REGISTER), &CTransparentStatic::clicked, this, &CMervoDownloaderDlg::OnStnClickedRegister);
}

CMervoDownloaderDlg::~CMervoDownloaderDlg() { OnDestroy(); }

std::u16string CMervoDownloaderDlg::Text(int id) const { return Label(id)->GetWindowText().toStdU16String(); }

void CMervoDownloaderDlg::SetText(int id, const std::u16string& text) {
  Label(id)->SetWindowText(QString::fromStdU16String(text));
}

void CMervoDownloaderDlg::Enable(int id, bool enabled) { Control(id)->setEnabled(enabled); }

bool CMervoDownloaderDlg::OnInitDialog() {
  core::InitLog();
  if (!DownloadFileList() || !CheckVersion()) {
    EndDialog();
    return false;
  }
  InitInstallFolder();
  InitLabels();
  InitProgressBars();
  InitButtons();
  InitBackground();
  Enable(IDC_BUTTON_STOP, false);
  Enable(IDC_BUTTON_RUN, false);
  setWindowTitle(QStringLiteral("Downloader For VALDRIS"));
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  try {
    m_pDownloadThread = CreateWorker();
  } catch (const std::bad_alloc&) {
    m_services.messageBox.Show(this, core::LoadResString(core::IDS_NO_MEMORY_CLOSING), BoxKind::Ok);
    EndDialog();
    return false;
  }
  m_pDownloadThread->SetFileList(m_FileList);
  m_pDownloadThread->SetDownloadPath(Text(IDC_STATIC_FOLDER));
  m_pDownloadThread->SetFreeSpaceQuery(m_services.freeSpace);
  m_pDownloadThread->SetHttpTimeout(m_services.httpTimeoutMs);
  theLog.Write(LOG_INFO, u"download thread create success");
  return true;
}

std::unique_ptr<download::CDownloadThread> CMervoDownloaderDlg::CreateWorker() {
  return std::make_unique<download::CDownloadThread>(m_hTarget);
}

bool CMervoDownloaderDlg::DownloadFileList() {
  net::CHttpClient client;
  client.SetTimeout(m_services.httpTimeoutMs);
  download::StartupFailure failure;
  if (download::DownloadFileList(client, m_services.fileListUrl, m_FileList, failure)) return true;
  m_services.messageBox.Show(this, failure.text, failure.errorIcon ? BoxKind::OkError : BoxKind::Ok);
  return false;
}

bool CMervoDownloaderDlg::CheckVersion() {
  download::StartupFailure failure;
  if (download::CheckVersion(m_FileList, failure)) return true;
  m_services.messageBox.Show(this, failure.text, BoxKind::Ok);
  return false;
}

void CMervoDownloaderDlg::InitLabels() {
  const bool any = !m_FileList.m_vecFileInfo.empty();
  const std::u16string firstName = any ? Widen(m_FileList.m_vecFileInfo[0].Name) : std::u16string();
  const std::u16string firstSize = core::FormatByteSize(any ? m_FileList.m_vecFileInfo[0].Size : 0);
  SetText(IDC_STATIC_FILE_NAME, firstName);
  SetText(IDC_STATIC_FILE_SIZE, firstSize);
  SetText(IDC_STATIC_SPEED, std::u16string(core::kUnmeasuredSpeed));
  SetText(IDC_STATIC_FILE_DONE, u"0 Bytes");
  SetText(IDC_STATIC_FILE_SIZE2, firstSize);
  SetText(IDC_STATIC_ELAPSED, std::u16string(core::kIdleDuration));
  SetText(IDC_STATIC_TIME_LEFT, std::u16string(core::kIdleDuration));
  SetText(IDC_STATIC_TOTAL_DONE, u"0 Bytes");
  SetText(IDC_STATIC_TOTAL_SIZE, core::FormatByteSize(m_FileList.m_nTotalSize));
  SetText(IDC_STATIC_REQUIRED, core::FormatByteSize(m_FileList.m_nTotalSize));

  const COLORREF yellow = RGB(255, 255, 0), white = RGB(255, 255, 255), red = RGB(255, 0, 0);
  const struct {
    int id;
    const char16_t* text;
    COLORREF colour;
  } captions[] = {
      {IDC_CAPTION_STATUS, u"Transfer Status", yellow},   {IDC_CAPTION_FILE_NAME, u"File Name :", white},
      {IDC_CAPTION_FILE_SIZE, u"File Size :", white},     {IDC_CAPTION_ELAPSED, u"Time Elapsed :", white},
      {IDC_CAPTION_SPEED, u"Download Speed :", white},    {IDC_CAPTION_TIME_LEFT, u"Time Left :", white},
      {IDC_CAPTION_DOWNLOADED, u"Downloaded", white},     {IDC_CAPTION_TOTAL, u"Total", white},
      {IDC_CAPTION_FOLDER, u"Download Folder", yellow},   {IDC_CAPTION_REQUIRED, u"Required Storage", white},
      {IDC_CAPTION_AVAILABLE, u"Available Storage", white}, {IDC_STATIC_FORUM, u"Official Forum", red},
      {IDC_STATIC_REGISTER, u"Register", red},
  };
  for (const auto& caption : captions) {
    SetText(caption.id, caption.text);
    Label(caption.id)->SetTextColor(caption.colour);
  }
  SetText(IDC_STATIC_AVAILABLE, core::FormatByteSize(m_services.freeSpace(Text(IDC_STATIC_FOLDER))));
}

void CMervoDownloaderDlg::InitInstallFolder() {
  const platform::CSettingsStore& store = m_services.settings;
  const std::u16string defaultFolder = GetDefaultInstallFolder();
  if (store.OpenKey(kVendorKey) != platform::ERROR_SUCCESS) {
    SetText(IDC_STATIC_FOLDER, defaultFolder);
    return;
  }
  std::u16string saved;
  if (const auto code = store.QueryString(kVendorKey, kInstallPathValue, saved); code != platform::ERROR_SUCCESS) {
    theLog.Write(LOG_ERROR, u"registry get value is failed - check path (%ld)", code);
    SetText(IDC_STATIC_FOLDER, defaultFolder);
    return;
  }
  if (saved == defaultFolder || !platform::PathExists(saved)) {
    SetText(IDC_STATIC_FOLDER, defaultFolder);
    return;
  }
  const bool yes = m_services.messageBox.Show(this, core::LoadResString(core::IDS_PREVIOUS_FOLDER, saved), BoxKind::YesNo);
  SetText(IDC_STATIC_FOLDER, yes ? saved : defaultFolder);
}

void CMervoDownloaderDlg::OnBnClickedStart() {
  const std::u16string folder = Text(IDC_STATIC_FOLDER);
  if (!(m_services.freeSpace(folder) > m_FileList.m_nTotalSize)) {
    m_services.messageBox.Show(this, core::LoadResString(core::IDS_INSUFFICIENT_SPACE), BoxKind::Ok);
    return;
  }
  if (!IsUsableInstallFolder(m_services.settings, folder)) {
    m_services.messageBox.Show(this, core::LoadResString(core::IDS_FOLDER_NOT_EMPTY), BoxKind::Ok);
    return;
  }
  SaveInstallPath(m_services.settings, folder);
  if (!m_pDownloadThread->Start()) {
    theLog.Write(LOG_ERROR, u"download thread start is failed");
    m_services.messageBox.Show(this, core::LoadResString(core::IDS_ERROR_TRY_LATER), BoxKind::Ok);
    return;
  }
  theLog.Write(LOG_INFO, u"file download start");
  m_timer.start();
  Enable(IDC_BUTTON_START, false);
  Enable(IDC_BUTTON_CHANGE_PATH, false);
  Enable(IDC_BUTTON_STOP, true);
  Enable(IDC_BUTTON_RUN, false);
  m_bDownloading = true;
  if (m_bStoppedByUser) {
    m_dwResumeBaseTime = m_dwLastStartTime;
    m_bStoppedByUser = false;
  }
}

void CMervoDownloaderDlg::OnBnClickedStop() {
  if (!m_services.messageBox.Show(this, core::LoadResString(core::IDS_STOP_DOWNLOAD), BoxKind::YesNo)) return;
  theLog.Write(LOG_INFO, u"file download stop");
  m_bStoppedByUser = true;
  m_pDownloadThread->Stop();
  m_bDownloading = false;
  m_bResumePending = true;
  m_dwStopTime = m_services.tick();
  m_timer.stop();
  m_nElapsedHour = m_nElapsedMinute = m_nElapsedSecond = 0;
  Enable(IDC_BUTTON_START, true);
  Enable(IDC_BUTTON_CHANGE_PATH, true);
  Enable(IDC_BUTTON_STOP, false);
}

void CMervoDownloaderDlg::OnBnClickedClose() {
  const unsigned id = m_bDownloading ? core::IDS_FORCE_CLOSE : core::IDS_CLOSE_PROGRAM;
  if (!m_services.messageBox.Show(this, core::LoadResString(id), BoxKind::YesNo)) return;
  theLog.Write(LOG_INFO, u"program close");
  EndDialog();
}

void CMervoDownloaderDlg::EndDialog() {
  m_bEnded = true;
  AllowClose();
  close();
  OnDestroy();
  emit ended();
}

void CMervoDownloaderDlg::OnDestroy() {
  m_timer.stop();
  if (m_pDownloadThread) {
    // Nothing more reaches this window; the worker's destruction stops its thread.
    m_pDownloadThread->m_hWnd = 0;
    m_pDownloadThread.reset();
  }
  if (m_hTarget != 0) {
    download::UnregisterMessageTarget(m_hTarget);
    m_hTarget = 0;
  }
}

void CMervoDownloaderDlg::OnTimer(int id) {
  if (id != TIMER_ELAPSED) return;
  if (++m_nElapsedSecond == 60) {
    m_nElapsedSecond = 0;
    if (++m_nElapsedMinute == 60) {
      m_nElapsedMinute = 0;
      ++m_nElapsedHour;
    }
  }
  SetText(IDC_STATIC_ELAPSED, core::FormatDuration(m_nElapsedHour, m_nElapsedMinute, m_nElapsedSecond));
}

void CMervoDownloaderDlg::OnPost(std::uint32_t message, std::unique_ptr<download::MessageRecord> record) {
  // Qt takes the event and frees it; a window that is gone drops it, record included.
  QCoreApplication::postEvent(this, std::make_unique<CWorkerEvent>(message, std::move(record)).release());
}

bool CMervoDownloaderDlg::event(QEvent* event) {
  if (event->type() != CWorkerEvent::Type()) return CSkinnedWindow::event(event);
  auto* worker = static_cast<CWorkerEvent*>(event);
  if (worker->m_message == download::WM_DOWNLOAD_PROGRESS) {
    OnDownloadProgress(std::unique_ptr<download::DownloadProgress>(
        static_cast<download::DownloadProgress*>(worker->m_record.release())));
  } else if (worker->m_message == download::WM_DOWNLOAD_RESULT) {
    OnDownloadResult(std::unique_ptr<download::DownloadResult>(
        static_cast<download::DownloadResult*>(worker->m_record.release())));
  }
  return true;
}

void CMervoDownloaderDlg::OnDownloadProgress(std::unique_ptr<download::DownloadProgress> record) {
  if (!record) return;
  const download::DownloadProgress p = *record;
  record.reset();
  m_dwLastStartTime = p.dwStartTime;
  const auto index = static_cast<std::uint32_t>(p.nFileIndex);
  std::u16string speed;
  if (index == m_nCurrentFile) {
    if (p.dwReceived > m_dwLastReceived) {
      const std::uint64_t delta = p.dwReceived - m_dwLastReceived;
      m_nDownloadedSize += delta;
      speed = core::FormatSpeed(delta);
    }
  } else {
    m_nDownloadedSize += p.dwReceived;
    speed = std::u16string(core::kUnmeasuredSpeed);
  }
  m_dwLastReceived = p.dwReceived;
  const bool changed = index != m_nCurrentFile;
  if (changed) m_nCurrentFile = index;
  const int percent = core::PercentOf(p.dwReceived, p.dwTotal);

  const std::uint32_t now = m_services.tick();
  std::uint32_t e;
  if (m_bResumePending) {
    // Carry the stopped entry's time over: the worker's next records start from it.
    e = m_dwStopTime - m_dwResumeBaseTime;
    if (m_pDownloadThread) m_pDownloadThread->m_dwFileStartTime = now - e + 1000;
    m_bResumePending = false;
  } else {
    e = now - p.dwStartTime;
  }
  if (e == 0) return;

  const auto bytesPerSecond = static_cast<std::uint64_t>(static_cast<double>(p.dwReceived) / e * 1000.0);
  // A record may count more than its total (a server sending more than announced): nothing is left.
  const std::uint64_t remaining = p.dwTotal > p.dwReceived ? p.dwTotal - p.dwReceived : 0;
  const std::uint64_t secondsLeft = bytesPerSecond == 0 ? 0 : remaining / bytesPerSecond;
  const int hours = static_cast<int>((secondsLeft % 86400) / 3600);
  const int minutes = static_cast<int>((secondsLeft % 3600) / 60);
  std::int64_t seconds = static_cast<std::int64_t>(secondsLeft) - 3600LL * hours - 60LL * minutes;
  if (seconds >= 60) seconds = 0;

  const bool known = index < m_FileList.m_vecFileInfo.size();
  if (changed && known) SetText(IDC_STATIC_FILE_NAME, Widen(m_FileList.m_vecFileInfo[index].Name));
  if (!p.bVerified) SetText(IDC_STATIC_SPEED, speed);
  Bar(IDC_PROGRESS_FILE)->SendMessage(PBM_SETPOS, static_cast<std::uintptr_t>(percent));
  SetText(IDC_STATIC_FILE_DONE, core::FormatByteSize(p.dwReceived));
  if (changed && known) {
    const std::u16string size = core::FormatByteSize(m_FileList.m_vecFileInfo[index].Size);
    SetText(IDC_STATIC_FILE_SIZE, size);
    SetText(IDC_STATIC_FILE_SIZE2, size);
  }
  SetText(IDC_STATIC_TIME_LEFT, core::FormatDuration(hours, minutes, static_cast<int>(seconds)));
  const int total = core::PercentOf(m_nDownloadedSize, m_FileList.m_nTotalSize);
  Bar(IDC_PROGRESS_TOTAL)->SendMessage(PBM_SETPOS, static_cast<std::uintptr_t>(total));
  SetText(IDC_STATIC_TOTAL_DONE, core::FormatByteSize(m_nDownloadedSize));
}

void CMervoDownloaderDlg::OnDownloadResult(std::unique_ptr<download::DownloadResult> record) {
  bool success = false;
  std::u16string message;
  if (record) {
    success = record->bSuccess;
    message = record->szMessage;
    record.reset();
  }
  m_bDownloading = false;
  m_timer.stop();
  if (m_bStoppedByUser) {
    Enable(IDC_BUTTON_START, true);
    Enable(IDC_BUTTON_CHANGE_PATH, true);
    Enable(IDC_BUTTON_STOP, false);
  } else if (success) {
    theLog.Write(LOG_INFO, u"total download is succeeded");
    m_nDownloadedSize = 0;
    DeleteVendorKey(m_services.settings);
    Enable(IDC_BUTTON_START, false);
    Enable(IDC_BUTTON_STOP, false);
    Enable(IDC_BUTTON_CHANGE_PATH, false);
    Enable(IDC_BUTTON_RUN, true);
  } else {
    Enable(IDC_BUTTON_START, true);
    Enable(IDC_BUTTON_STOP, false);
    Enable(IDC_BUTTON_CHANGE_PATH, true);
    Enable(IDC_BUTTON_RUN, false);
    m_services.messageBox.Show(this, message, BoxKind::Ok);
  }
}

void CMervoDownloaderDlg::OnBnClickedChangePath() {
  const std::u16string current = Text(IDC_STATIC_FOLDER);
  const std::u16string defaultFolder = GetDefaultInstallFolder();
  std::u16string initial;
  if (current != defaultFolder) initial = current;
  else if (platform::PathExists(defaultFolder)) initial = defaultFolder;
  else if (!core::GetProgramFilesFolder(initial)) initial.assign(1, platform::kPathSeparator);  // the root, as a last resort
  std::u16string required = core::FormatByteSize(m_FileList.m_nTotalSize).substr(0, 15);
  std::u16string chosen;
  if (!m_services.folderBrowser.Browse(this, initial.substr(0, 259), required, chosen)) {
    SetText(IDC_STATIC_FOLDER, current);
    return;
  }
  if (chosen.empty() || chosen.front() != platform::kPathSeparator) {
    m_services.messageBox.Show(this, core::LoadResString(core::IDS_INVALID_FOLDER), BoxKind::Ok);
    return;
  }
  SetText(IDC_STATIC_FOLDER, chosen);
  SetText(IDC_STATIC_AVAILABLE, core::FormatByteSize(m_services.freeSpace(chosen)));
  if (m_pDownloadThread) m_pDownloadThread->SetDownloadPath(chosen);
}

void CMervoDownloaderDlg::OnBnClickedRun() {
  const std::u16string folder = Text(IDC_STATIC_FOLDER);
  const std::u16string path = core::JoinPath(folder, kSetupFileName);
  theLog.Write(LOG_INFO, u"setup execute");
  if (const auto code = platform::LaunchProgram(path, folder); code != platform::ERROR_SUCCESS) {
    theLog.Write(LOG_ERROR, u"setup execute is failed - (%ld)", code);
    m_services.messageBox.Show(this, core::LoadResString(core::IDS_SETUP_START_FAILED), BoxKind::Ok);
    return;
  }
  EndDialog();
}

void CMervoDownloaderDlg::OnStnClickedForum() {
  platform::OpenWithDesktop(core::Format(u"http://%s%s", m_services.publisherHost, u"/forum"));
}

void CMervoDownloaderDlg::OnStnClickedRegister() {
  platform::OpenWithDesktop(core::Format(u"http://%s%s", m_services.publisherHost, u"/member/join.asp"));
}

void CMervoDownloaderDlg::ShowAbout() {
  CAboutDlg about(this);
  about.exec();
}

} // namespace app
