#include "controller/MervoDownloaderDlg.h"

#include <atomic>

#include "controller/InstallFolder.h"
#include "core/Log.h"
#include "core/StringTable.h"
#include "core/SystemQueries.h"
#include "core/Text.h"
#include "download/FileListFetch.h"
#include "download/WorkerMediator.h"
#include "platform/Files.h"
#include "platform/Utf.h"

namespace controller {

using namespace window;

using core::LOG_ERROR;
using core::LOG_INFO;
using core::theLog;

CMervoDownloaderDlg::CMervoDownloaderDlg(IMainView& view, Services services)
    : m_view(view), m_services(std::move(services)) {}

CMervoDownloaderDlg::~CMervoDownloaderDlg() { OnDestroy(); }

void CMervoDownloaderDlg::SetInstallFolder(const std::u16string& folder) {
  m_strInstallFolder = folder;
  m_view.SetText(IDC_STATIC_FOLDER, folder);
}

void CMervoDownloaderDlg::SetState(RunState state) {
  m_state = state;
  const ButtonStates& buttons = ButtonsOf(state);
  m_view.EnableControl(IDC_BUTTON_START, buttons.start);
  m_view.EnableControl(IDC_BUTTON_STOP, buttons.stop);
  m_view.EnableControl(IDC_BUTTON_CHANGE_PATH, buttons.changePath);
  m_view.EnableControl(IDC_BUTTON_RUN, buttons.run);
  m_view.ShowRunState(state);
}

void CMervoDownloaderDlg::StartTimer() {
  m_view.StartTimer(TIMER_ELAPSED, kElapsedTimerMs);
  m_bTimerRunning = true;
}

void CMervoDownloaderDlg::StopTimer() {
  m_view.StopTimer(TIMER_ELAPSED);
  m_bTimerRunning = false;
}

bool CMervoDownloaderDlg::OnInitDialog() {
  AssertOnWindowThread();
  core::InitLog();
  if (!DownloadFileList() || !CheckVersion()) {
    EndDialog();
    return false;
  }
  InitInstallFolder();
  InitLabels();
  m_view.PrepareWindow();
  SetState(RunState::Ready);
  m_pProgress = std::make_unique<download::CProgressModel>(m_FileList);

  try {
    m_pDownloadThread = CreateWorker();
  } catch (const std::bad_alloc&) {
    m_view.ShowMessage(core::LoadResString(core::IDS_NO_MEMORY_CLOSING), BoxKind::Ok);
    EndDialog();
    return false;
  }
  m_pDownloadThread->SetFileList(m_FileList);
  m_pDownloadThread->SetDownloadPath(m_strInstallFolder);
  theLog.Write(LOG_INFO, u"download thread create success");
  return true;
}

std::unique_ptr<download::CDownloadThread> CMervoDownloaderDlg::CreateWorker() {
  download::WorkerMediator mediator = download::DefaultWorkerMediator(m_services.httpTimeoutMs);
  mediator.freeSpace = m_services.freeSpace;
  mediator.tick = m_services.tick;
  return std::make_unique<download::CDownloadThread>(m_view.MessageTarget(), std::move(mediator));
}

bool CMervoDownloaderDlg::DownloadFileList() {
  net::CHttpClient client;
  client.SetTimeout(m_services.httpTimeoutMs);
  std::atomic<bool> running{true};
  client.SetRunningFlag(&running);
  download::StartupFailure failure;
  bool fetched = false;
  // The fetch may take up to its overall limit: the player sees the program connecting meanwhile.
  const bool waited = m_view.WaitForStartup(
      core::LoadUiString(core::IDS_CONNECTING),
      [&] { fetched = download::DownloadFileList(client, m_services.fileListUrl, m_FileList, failure, m_services.trust); },
      [&] { running = false; });
  if (!waited) {
    theLog.Write(LOG_INFO, u"start-up cancelled by the user");
    return false;
  }
  if (fetched) return true;
  m_view.ShowMessage(failure.text, failure.errorIcon ? BoxKind::OkError : BoxKind::Ok);
  return false;
}

bool CMervoDownloaderDlg::CheckVersion() {
  download::StartupFailure failure;
  if (download::CheckVersion(m_FileList, failure)) return true;
  m_view.ShowMessage(failure.text, BoxKind::Ok);
  return false;
}

void CMervoDownloaderDlg::InitLabels() {
  const bool any = !m_FileList.m_vecFileInfo.empty();
  const std::u16string firstName = any ? platform::WidenUtf8(m_FileList.m_vecFileInfo[0].Name) : std::u16string();
  const std::u16string firstSize = core::FormatByteSize(any ? m_FileList.m_vecFileInfo[0].Size : 0);
  m_view.SetText(IDC_STATIC_FILE_NAME, firstName);
  m_view.SetText(IDC_STATIC_FILE_SIZE, firstSize);
  m_view.SetText(IDC_STATIC_SPEED, core::kUnmeasuredSpeed);
  m_view.SetText(IDC_STATIC_FILE_DONE, u"0 Bytes");
  m_view.SetText(IDC_STATIC_FILE_SIZE2, firstSize);
  m_view.SetText(IDC_STATIC_ELAPSED, core::kIdleDuration);
  m_view.SetText(IDC_STATIC_TIME_LEFT, core::kIdleDuration);
  m_view.SetText(IDC_STATIC_TOTAL_DONE, u"0 Bytes");
  m_view.SetText(IDC_STATIC_TOTAL_SIZE, core::FormatByteSize(m_FileList.m_nTotalSize));
  m_view.SetText(IDC_STATIC_REQUIRED, core::FormatByteSize(m_FileList.m_nTotalSize));
  for (const Caption& caption : kCaptions) {
    m_view.SetText(caption.id, caption.text);
    m_view.SetTextColor(caption.id, caption.colour);
  }
  m_view.SetText(IDC_STATIC_AVAILABLE, core::FormatByteSize(m_services.freeSpace(m_strInstallFolder)));
}

void CMervoDownloaderDlg::InitInstallFolder() {
  const platform::CSettingsStore& store = m_services.settings;
  const std::u16string defaultFolder = GetDefaultInstallFolder();
  if (store.OpenKey(kVendorKey) != platform::ERROR_SUCCESS) {
    SetInstallFolder(defaultFolder);
    return;
  }
  std::u16string saved;
  if (const auto code = store.QueryString(kVendorKey, kInstallPathValue, saved); code != platform::ERROR_SUCCESS) {
    theLog.Write(LOG_ERROR, u"registry get value is failed - check path (%ld)", code);
    SetInstallFolder(defaultFolder);
    return;
  }
  if (saved == defaultFolder || !platform::PathExists(saved)) {
    SetInstallFolder(defaultFolder);
    return;
  }
  const bool yes = m_view.ShowMessage(core::LoadResString(core::IDS_PREVIOUS_FOLDER, saved), BoxKind::YesNo);
  SetInstallFolder(yes ? saved : defaultFolder);
}

void CMervoDownloaderDlg::OnBnClickedStart() {
  AssertOnWindowThread();
  // The window may have stood open for days: a signed list is judged by its expiry again.
  if (!m_services.trust.keys.empty()) {
    download::StartupFailure failure;
    if (!download::CheckListExpiry(m_FileList, m_services.trust, failure)) {
      m_view.ShowMessage(failure.text, BoxKind::Ok);
      return;
    }
  }
  const std::u16string& folder = m_strInstallFolder;
  // Room is needed for what is still missing, not for the files already there.
  const std::uint64_t missing = download::MissingBytesFrom(m_FileList, folder, 0).front();
  if (missing > 0 && !(m_services.freeSpace(folder) > missing)) {
    m_view.ShowMessage(core::LoadResString(core::IDS_INSUFFICIENT_SPACE), BoxKind::Ok);
    return;
  }
  if (!IsUsableInstallFolder(m_services.settings, folder)) {
    m_view.ShowMessage(core::LoadResString(core::IDS_FOLDER_NOT_EMPTY), BoxKind::Ok);
    return;
  }
  SaveInstallPath(m_services.settings, folder);
  if (!m_pDownloadThread->Start()) {
    theLog.Write(LOG_ERROR, u"download thread start is failed");
    m_view.ShowMessage(core::LoadResString(core::IDS_ERROR_TRY_LATER), BoxKind::Ok);
    return;
  }
  theLog.Write(LOG_INFO, u"file download start");
  StartTimer();
  SetState(RunState::Downloading);
  m_bDownloading = true;
  m_bStoppedByUser = false;
  m_pProgress->OnStart();  // after a user stop, the stopped entry's time carries on
}

void CMervoDownloaderDlg::OnBnClickedStop() {
  AssertOnWindowThread();
  if (!m_view.ShowMessage(core::LoadResString(core::IDS_STOP_DOWNLOAD), BoxKind::YesNo)) return;
  // The run may have ended while the question was open: its result stands.
  if (!m_bDownloading) return;
  theLog.Write(LOG_INFO, u"file download stop");
  m_bStoppedByUser = true;
  m_pDownloadThread->Stop();
  m_bDownloading = false;
  m_pProgress->OnStop(m_services.tick());
  StopTimer();
  m_nElapsedHour = m_nElapsedMinute = m_nElapsedSecond = 0;
  SetState(RunState::Stopped);
}

void CMervoDownloaderDlg::OnBnClickedClose() {
  AssertOnWindowThread();
  const unsigned id = m_bDownloading ? core::IDS_FORCE_CLOSE : core::IDS_CLOSE_PROGRAM;
  if (!m_view.ShowMessage(core::LoadResString(id), BoxKind::YesNo)) return;
  theLog.Write(LOG_INFO, u"program close");
  EndDialog();
}

void CMervoDownloaderDlg::EndDialog() {
  m_bEnded = true;
  OnDestroy();
  m_view.EndDialog();
}

void CMervoDownloaderDlg::OnDestroy() {
  AssertOnWindowThread();
  if (m_bTimerRunning) StopTimer();
  if (m_pDownloadThread) {
    // Nothing more reaches the window; the worker's destruction stops its thread.
    m_pDownloadThread->SetTarget(0);
    m_pDownloadThread.reset();
  }
}

void CMervoDownloaderDlg::OnTimer(int id) {
  AssertOnWindowThread();
  if (id != TIMER_ELAPSED) return;
  if (++m_nElapsedSecond == 60) {
    m_nElapsedSecond = 0;
    if (++m_nElapsedMinute == 60) {
      m_nElapsedMinute = 0;
      ++m_nElapsedHour;
    }
  }
  m_view.SetText(IDC_STATIC_ELAPSED, core::FormatDuration(m_nElapsedHour, m_nElapsedMinute, m_nElapsedSecond));
}

void CMervoDownloaderDlg::OnDownloadProgress(std::unique_ptr<download::DownloadProgress> record) {
  AssertOnWindowThread();
  if (!record || !m_pProgress) return;
  const download::DownloadProgress p = *record;
  record.reset();
  const download::ProgressFigures f = m_pProgress->Update(p, m_services.tick());
  if (f.entryName) m_view.SetText(IDC_STATIC_FILE_NAME, *f.entryName);
  if (f.speed) m_view.SetText(IDC_STATIC_SPEED, *f.speed);
  m_view.SetBarPosition(IDC_PROGRESS_FILE, f.entryPercent);
  m_view.SetText(IDC_STATIC_FILE_DONE, f.entryDone);
  if (f.entrySize) {
    m_view.SetText(IDC_STATIC_FILE_SIZE, *f.entrySize);
    m_view.SetText(IDC_STATIC_FILE_SIZE2, *f.entrySize);
  }
  if (f.timeLeft) m_view.SetText(IDC_STATIC_TIME_LEFT, *f.timeLeft);
  m_view.SetBarPosition(IDC_PROGRESS_TOTAL, f.totalPercent);
  m_view.SetText(IDC_STATIC_TOTAL_DONE, f.totalDone);
}

void CMervoDownloaderDlg::OnDownloadResult(std::unique_ptr<download::DownloadResult> record) {
  AssertOnWindowThread();
  bool success = false;
  std::u16string message;
  if (record) {
    success = record->bSuccess;
    message = record->szMessage;
    record.reset();
  }
  m_bDownloading = false;
  StopTimer();
  if (m_bStoppedByUser) {
    SetState(RunState::Stopped);
  } else if (success) {
    theLog.Write(LOG_INFO, u"total download is succeeded");
    if (m_pProgress) m_pProgress->OnComplete();
    DeleteVendorKey(m_services.settings);
    SetState(RunState::Complete);
  } else {
    SetState(RunState::Failed);
    m_view.ShowMessage(message, BoxKind::Ok);
  }
}

void CMervoDownloaderDlg::OnBnClickedChangePath() {
  AssertOnWindowThread();
  const std::u16string current = m_strInstallFolder;
  const std::u16string defaultFolder = GetDefaultInstallFolder();
  std::u16string initial;
  if (current != defaultFolder) initial = current;
  else if (platform::PathExists(defaultFolder)) initial = defaultFolder;
  else if (!core::GetProgramFilesFolder(initial)) initial.assign(1, platform::kPathSeparator);  // the root, as a last resort
  const std::u16string required = core::FormatByteSize(m_FileList.m_nTotalSize).substr(0, 15);
  std::u16string chosen;
  if (!m_view.BrowseForFolder(std::u16string_view(initial).substr(0, 259), required, chosen)) {
    SetInstallFolder(current);
    return;
  }
  if (!platform::IsAbsolutePath(chosen)) {
    m_view.ShowMessage(core::LoadResString(core::IDS_INVALID_FOLDER), BoxKind::Ok);
    return;
  }
  SetInstallFolder(chosen);
  m_view.SetText(IDC_STATIC_AVAILABLE, core::FormatByteSize(m_services.freeSpace(chosen)));
  if (m_pDownloadThread) {
    // A run that has just posted its result may still be ending; the folder changes after it.
    m_pDownloadThread->Stop();
    m_pDownloadThread->SetDownloadPath(chosen);
  }
}

void CMervoDownloaderDlg::OnBnClickedRun() {
  AssertOnWindowThread();
  const std::u16string path = core::JoinPath(m_strInstallFolder, kSetupFileName);
  theLog.Write(LOG_INFO, u"setup execute");
  if (const auto code = m_services.launchProgram(path, m_strInstallFolder); code != platform::ERROR_SUCCESS) {
    theLog.Write(LOG_ERROR, u"setup execute is failed - (%ld)", code);
    m_view.ShowMessage(core::LoadResString(core::IDS_SETUP_START_FAILED), BoxKind::Ok);
    return;
  }
  EndDialog();
}

void CMervoDownloaderDlg::OnStnClickedForum() {
  AssertOnWindowThread();
  m_services.openAddress(core::Format(u"http://%s%s", m_services.publisherHost, u"/forum"));
}

void CMervoDownloaderDlg::OnStnClickedRegister() {
  AssertOnWindowThread();
  m_services.openAddress(core::Format(u"http://%s%s", m_services.publisherHost, u"/member/join.asp"));
}

} // namespace controller
