#include <gtest/gtest.h>

#include <QApplication>
#include <QDBusConnection>
#include <QFileDialog>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <csignal>
#include <deque>
#include <filesystem>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "controller/InstallFolder.h"
#include "core/Text.h"
#include "download/LocalFiles.h"
#include "filelist/FileList.h"
#include "platform/Clock.h"
#include "platform/Launch.h"
#include "qtapp/MainWindow.h"
#include "qtapp/MervoDownloaderApp.h"
#include "qtapp/QtServices.h"
#include "support/FaultServer.h"
#include "support/NginxServer.h"
#include "support/PublishGame.h"
#include "support/TempDir.h"
#include "support/TestData.h"
#include "support/TestServices.h"

namespace {

using namespace qtapp;
using namespace controller;
using namespace window;
using namespace testsupport;
using namespace qtui;
namespace fs = std::filesystem;

std::string N(const std::u16string& s) { return platform::NarrowUtf8(s); }
std::u16string W(const std::string& s) { return platform::WidenUtf8(s); }

struct ScriptedBox : IMessageBox {
  std::vector<std::pair<std::string, BoxKind>> shown;
  std::deque<bool> answers;  // Yes (true) when none is queued
  bool Show(QWidget*, const std::u16string& text, BoxKind kind) override {
    shown.emplace_back(N(text), kind);
    if (answers.empty()) return true;
    const bool answer = answers.front();
    answers.pop_front();
    return answer;
  }
};

struct ScriptedBrowser : IFolderBrowser {
  bool cancel = false;
  std::u16string answer;
  std::u16string initial;
  bool Browse(QWidget*, const std::u16string& first, const std::u16string&, std::u16string& chosen) override {
    initial = first;
    if (cancel) return false;
    chosen = answer;
    return true;
  }
};

FaultScript Status(int status) {
  FaultScript script;
  script.status = status;
  return script;
}

template <typename Predicate>
bool WaitFor(Predicate done, int ms = 10000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QApplication::processEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

// A user's machine: home, log and settings folders of its own, and a game on a fault server.
class Controller : public ::testing::Test {
 protected:
  TempDir home, state, config, bin;
  ScriptedBox box;
  ScriptedBrowser browser;
  FaultServer server;
  std::vector<std::pair<std::string, std::string>> files = {{"Data/a.pak", Pattern(200000, 1)},
                                                            {"VALDRIS_Setup.exe", Pattern(3000, 2)}};
  std::uint64_t freeSpace = 1ULL << 40;
  std::uint32_t now = 0;  // 0: the real tick

  void SetUp() override {
    setenv("HOME", home.path().c_str(), 1);
    setenv("XDG_STATE_HOME", state.path().c_str(), 1);
    // The desktop's opener is ours: it records what it was given and exits with a chosen status, so
    // no test ever opens a browser.
    WriteBytes(bin / "xdg-open", "#!/bin/sh\necho \"$1\" >> \"" + (bin / "opened.txt").string() +
                                     "\"\nexit $(cat \"" + (bin / "status").string() + "\" 2>/dev/null || echo 0)\n");
    fs::permissions(bin / "xdg-open", fs::perms::owner_all);
    m_savedPath = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "/usr/bin:/bin";
    setenv("PATH", (bin.path().string() + ":" + m_savedPath).c_str(), 1);
    Publish();
  }
  void TearDown() override { setenv("PATH", m_savedPath.c_str(), 1); }
  std::string Opened() const { return fs::exists(bin / "opened.txt") ? ReadBytes(bin / "opened.txt") : ""; }
  std::string m_savedPath;
  void Publish(const std::string& version = "2017.12.27.1", int dripDelayMs = 0) {
    PublishGame(server, files, version, 20000, dripDelayMs);
  }
  controller::Services MakeServices() {
    controller::Services services = TestServices(config.wide(), W(server.Url("/filelist.json")));
    services.freeSpace = [this](std::u16string_view) { return freeSpace; };
    services.tick = [this] { return now != 0 ? now : Tick(); };
    return services;
  }
  // The real tick, but never the same value twice: a record handled in the millisecond its entry
  // began shows nothing (as designed), which would make the labels' last state a matter of luck.
  std::uint32_t Tick() {
    std::uint32_t previous = m_lastTick.load();
    std::uint32_t next;
    do {
      next = std::max(platform::TickCount32(), previous + 1);
    } while (!m_lastTick.compare_exchange_weak(previous, next));
    return next;
  }
  std::atomic<std::uint32_t> m_lastTick{0};
  fs::path DefaultFolder() const { return home / "DOWNLOAD/VALDRIS"; }
  static bool On(CMainWindow& win, int id) { return win.Control(id)->isEnabled(); }
  std::string Log() const {
    std::string text;
    for (const auto& entry : fs::directory_iterator(state / "Mervo_Downloader")) {
      const std::string bytes = ReadBytes(entry.path());
      for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) text.push_back(bytes[i]);
    }
    return text;
  }
};

TEST_F(Controller, FullRunFromStartUpToComplete) {
  CMainWindow win(box, browser, MakeServices());
  CMervoDownloaderDlg& dlg = win.Dlg();
  ASSERT_TRUE(dlg.OnInitDialog());
  EXPECT_EQ(N(win.Text(IDC_STATIC_FILE_NAME)), "Data/a.pak");
  EXPECT_EQ(N(win.Text(IDC_STATIC_TOTAL_SIZE)), "198.24 KB");
  EXPECT_EQ(N(win.Text(IDC_STATIC_FOLDER)), DefaultFolder().string());
  EXPECT_EQ(N(win.Text(IDC_CAPTION_STATUS)), "Transfer Status");
  EXPECT_TRUE(On(win, IDC_BUTTON_START) && On(win, IDC_BUTTON_CHANGE_PATH) && On(win, IDC_BUTTON_CANCEL));
  EXPECT_FALSE(On(win, IDC_BUTTON_STOP) || On(win, IDC_BUTTON_RUN));
  EXPECT_EQ(win.windowTitle(), QStringLiteral("Downloader For VALDRIS"));

  dlg.OnBnClickedStart();
  EXPECT_TRUE(fs::exists(config / "Mervolink/VALDRIS/InstallPath")) << "the folder is remembered while unfinished";
  EXPECT_TRUE(dlg.IsTimerRunning());
  ASSERT_TRUE(WaitFor([&] { return On(win, IDC_BUTTON_RUN); }));
  EXPECT_FALSE(On(win, IDC_BUTTON_START) || On(win, IDC_BUTTON_STOP) || On(win, IDC_BUTTON_CHANGE_PATH));
  EXPECT_FALSE(dlg.IsTimerRunning());
  EXPECT_FALSE(fs::exists(config / "Mervolink")) << "the vendor key goes with a complete download";
  EXPECT_TRUE(box.shown.empty());
  for (const auto& [name, bytes] : files) EXPECT_EQ(ReadBytes(DefaultFolder() / name), bytes);
  EXPECT_EQ(win.Bar(IDC_PROGRESS_TOTAL)->SendMessage(kBarGetPos), 100);
  EXPECT_EQ(N(win.Text(IDC_STATIC_TOTAL_DONE)), "198.24 KB");
  const std::string log = Log();
  EXPECT_NE(log.find("[INFO] download thread create success"), std::string::npos);
  EXPECT_NE(log.find("[INFO] file download start"), std::string::npos);
  EXPECT_NE(log.find("[INFO] total download is succeeded"), std::string::npos);
}

// While the list is slow to come, the player sees the program connecting and can cancel: the
// start-up then ends without a message, and the window never appears.
TEST_F(Controller, ASlowStartUpShowsItsStateAndCanBeCancelled) {
  FaultScript stalled = Status(200);
  stalled.stallBeforeHeaders = true;
  stalled.stallMs = 600000;  // longer than any test
  server.Script("/filelist.json", stalled);
  controller::Services services = MakeServices();
  services.httpTimeoutMs = 600000;  // only the player's Cancel ends this wait
  CMainWindow window(box, browser, std::move(services));
  bool sawWait = false;
  QTimer player;
  player.setInterval(20);
  QObject::connect(&player, &QTimer::timeout, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top->objectName() != QLatin1String("startupWait") || !top->isVisible()) continue;
      sawWait = sawWait || top->findChild<QLabel*>()->text() == QStringLiteral("Connecting to the server...");
      if (auto* cancel = top->findChild<QPushButton*>(); cancel && cancel->isEnabled()) cancel->click();
    }
  });
  player.start();
  EXPECT_FALSE(window.Dlg().OnInitDialog());
  player.stop();
  EXPECT_TRUE(sawWait);
  EXPECT_TRUE(box.shown.empty()) << box.shown.front().first;
  EXPECT_FALSE(window.isVisible());
  EXPECT_NE(Log().find("start-up cancelled by the user"), std::string::npos);
}

TEST_F(Controller, StopAnsweredNoThenYesThenResume) {
  Publish("2017.12.27.1", 100);  // 200 KB in ten slow pieces
  CMainWindow win(box, browser, MakeServices());
  CMervoDownloaderDlg& dlg = win.Dlg();
  ASSERT_TRUE(dlg.OnInitDialog());
  dlg.OnBnClickedStart();
  ASSERT_TRUE(WaitFor([&] { return N(win.Text(IDC_STATIC_FILE_DONE)) != "0 Bytes"; }));
  box.answers = {false};
  dlg.OnBnClickedStop();
  EXPECT_EQ(box.shown.back().first, "Stop checking and downloading?");
  EXPECT_TRUE(dlg.IsTimerRunning() && On(win, IDC_BUTTON_STOP) && !On(win, IDC_BUTTON_START));

  box.answers = {true};
  dlg.OnBnClickedStop();
  EXPECT_FALSE(dlg.IsTimerRunning());
  EXPECT_TRUE(On(win, IDC_BUTTON_START) && On(win, IDC_BUTTON_CHANGE_PATH) && !On(win, IDC_BUTTON_STOP));
  QApplication::processEvents();  // the stopped run's result shows no message
  EXPECT_EQ(box.shown.size(), 2u);
  const auto partial = fs::file_size(DefaultFolder() / "Data/a.pak");
  ASSERT_LT(partial, files[0].second.size());

  Publish();
  dlg.OnBnClickedStart();
  dlg.OnTimer(TIMER_ELAPSED);
  EXPECT_EQ(N(win.Text(IDC_STATIC_ELAPSED)), "00:00:01") << "a user stop zeroes the clock";
  ASSERT_TRUE(WaitFor([&] { return On(win, IDC_BUTTON_RUN); }));
  EXPECT_EQ(ReadBytes(DefaultFolder() / "Data/a.pak"), files[0].second);
  bool resumed = false;
  for (const std::string& head : server.Requests())
    resumed |= head.find("Range:bytes=" + std::to_string(partial) + "-") != std::string::npos;
  EXPECT_TRUE(resumed);
}

TEST_F(Controller, FailedRunShowsTheWorkersMessage) {
  server.Script("/game/VALDRIS_Setup.exe", Status(404));
  CMainWindow win(box, browser, MakeServices());
  CMervoDownloaderDlg& dlg = win.Dlg();
  ASSERT_TRUE(dlg.OnInitDialog());
  dlg.OnBnClickedStart();
  ASSERT_TRUE(WaitFor([&] { return !box.shown.empty(); }));
  EXPECT_EQ(box.shown[0].first, "Currently you are not able to reach the server. (404)");
  EXPECT_EQ(box.shown[0].second, BoxKind::Ok);
  EXPECT_TRUE(On(win, IDC_BUTTON_START) && On(win, IDC_BUTTON_CHANGE_PATH));
  EXPECT_FALSE(On(win, IDC_BUTTON_STOP) || On(win, IDC_BUTTON_RUN));
  EXPECT_TRUE(fs::exists(config / "Mervolink/VALDRIS/InstallPath")) << "still unfinished: still remembered";
}

// A flood of records updates the figures every time but reaches the screen once a frame; a change
// after a quiet moment shows at once, and a new state shows with the figures that led to it.
TEST_F(Controller, AFloodOfRecordsIsDrawnOncePerFrame) {
  CMainWindow win(box, browser, MakeServices());
  CMervoDownloaderDlg& dlg = win.Dlg();
  ASSERT_TRUE(dlg.OnInitDialog());
  QApplication::processEvents();
  now = 10000;
  const int framesBefore = win.Frames();
  for (int i = 1; i <= 500; ++i) {
    auto record = std::make_unique<download::DownloadProgress>();
    record->dwStartTime = 9000;
    record->dwTotal = 200000;
    record->dwReceived = static_cast<std::uint64_t>(i) * 400;
    dlg.OnDownloadProgress(std::move(record));
  }
  EXPECT_LE(win.Frames() - framesBefore, 1) << "the first change shows at once, the rest wait for the frame";
  EXPECT_EQ(N(win.Text(IDC_STATIC_FILE_DONE)), "195.31 KB") << "the figures are the last record's";
  ASSERT_TRUE(WaitFor([&] { return win.Bar(IDC_PROGRESS_FILE)->SendMessage(kBarGetPos) == 100; }));
  EXPECT_EQ(win.Label(IDC_STATIC_FILE_DONE)->GetWindowText(), QStringLiteral("195.31 KB"));
  EXPECT_LE(win.Frames() - framesBefore, 2);
}

// A session bus of the test's own: a notification service that writes down what it is told, and
// a listener to the launcher-entry signal.
class CDesktopRecorder : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  std::vector<std::pair<QString, QVariantMap>> updates;
  std::vector<QString> notifications;

 public slots:
  void Update(const QString& app, const QVariantMap& properties) { updates.emplace_back(app, properties); }
  uint Notify(const QString&, uint, const QString&, const QString& summary, const QString&, const QStringList&,
              const QVariantMap&, int) {
    notifications.push_back(summary);
    return 1;
  }
};

struct PrivateBus {
  QProcess daemon;
  QString address;
  bool Start() {
    daemon.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                 QStringLiteral("--print-address=1")});
    if (!daemon.waitForStarted(5000) || !daemon.waitForReadyRead(5000)) return false;
    address = QString::fromUtf8(daemon.readLine()).trimmed();
    return !address.isEmpty();
  }
  ~PrivateBus() {
    daemon.kill();
    daemon.waitForFinished(2000);
  }
};

TEST_F(Controller, TheDesktopShowsTheListsProgressAndTellsWhenTheGameIsReady) {
  PrivateBus bus;
  ASSERT_TRUE(bus.Start());
  CDesktopRecorder recorder;
  QDBusConnection listener = QDBusConnection::connectToBus(bus.address, QStringLiteral("listener"));
  ASSERT_TRUE(listener.registerService(QStringLiteral("org.freedesktop.Notifications")));
  ASSERT_TRUE(listener.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &recorder,
                                      QDBusConnection::ExportAllSlots));
  ASSERT_TRUE(listener.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
                               QStringLiteral("Update"), &recorder, SLOT(Update(QString, QVariantMap))));
  {
    CMainWindow win(box, browser, MakeServices(), QDBusConnection::connectToBus(bus.address, QStringLiteral("window")));
    CMervoDownloaderDlg& dlg = win.Dlg();
    ASSERT_TRUE(dlg.OnInitDialog());
    dlg.OnBnClickedStart();
    ASSERT_TRUE(WaitFor([&] { return On(win, IDC_BUTTON_RUN) && !recorder.notifications.empty(); }));
    ASSERT_TRUE(WaitFor([&] {
      return !recorder.updates.empty() && !recorder.updates.back().second.value(QStringLiteral("progress-visible")).toBool();
    }));
  }
  QDBusConnection::disconnectFromBus(QStringLiteral("window"));
  QDBusConnection::disconnectFromBus(QStringLiteral("listener"));
  EXPECT_EQ(recorder.notifications, std::vector<QString>{QStringLiteral("VALDRIS is ready")})
      << "the window was not the active one";
  double last = -1;
  bool shownFull = false;
  for (const auto& [app, properties] : recorder.updates) {
    EXPECT_EQ(app, QStringLiteral("application://com.valdris_game.Downloader.desktop"));
    const double progress = properties.value(QStringLiteral("progress")).toDouble();
    EXPECT_GE(progress, last) << "the list's progress never goes back";
    last = progress;
    shownFull = shownFull || (progress == 1.0 && properties.value(QStringLiteral("progress-visible")).toBool());
  }
  EXPECT_TRUE(shownFull) << "the icon showed the whole list done before the progress went away";
}

TEST_F(Controller, StartNeedsRoomOnlyForWhatIsStillMissing) {
  // An unfinished download: half of the first file and all of the second are there.
  const std::size_t half = files[0].second.size() / 2;
  fs::create_directories(DefaultFolder() / "Data");
  WriteBytes(DefaultFolder() / files[0].first, files[0].second.substr(0, half));
  WriteBytes(DefaultFolder() / files[1].first, files[1].second);
  SaveInstallPath(platform::CSettingsStore(config.wide()), W(DefaultFolder().string()));
  box.answers = {true};  // take the saved folder
  CMainWindow win(box, browser, MakeServices());
  CMervoDownloaderDlg& dlg = win.Dlg();
  ASSERT_TRUE(dlg.OnInitDialog());
  box.shown.clear();
  freeSpace = files[0].second.size() - half;  // exactly what is missing is not enough
  dlg.OnBnClickedStart();
  ASSERT_EQ(box.shown.size(), 1u);
  EXPECT_EQ(box.shown[0].first, "Insufficient free space in storage.");
  freeSpace = files[0].second.size() - half + 1;
  dlg.OnBnClickedStart();
  ASSERT_TRUE(WaitFor([&] { return On(win, IDC_BUTTON_RUN); }));
  EXPECT_EQ(box.shown.size(), 1u);
  EXPECT_EQ(ReadBytes(DefaultFolder() / files[0].first), files[0].second);
}

TEST_F(Controller, CloseWhileDownloadingAsksAndEndsTheWorkerQuickly) {
  Publish("2017.12.27.1", 500);
  CMainWindow win(box, browser, MakeServices());
  CMervoDownloaderDlg& dlg = win.Dlg();
  ASSERT_TRUE(dlg.OnInitDialog());
  box.answers = {false};
  dlg.OnBnClickedClose();
  EXPECT_EQ(box.shown.back().first, "Close the Program?");
  EXPECT_FALSE(dlg.IsEnded());
  dlg.OnBnClickedStart();
  ASSERT_TRUE(WaitFor([&] { return N(win.Text(IDC_STATIC_FILE_DONE)) != "0 Bytes"; }));
  const auto start = std::chrono::steady_clock::now();
  dlg.OnBnClickedClose();
  EXPECT_EQ(box.shown.back().first, "Download is ongoing. Force close?");
  EXPECT_TRUE(dlg.IsEnded());
  EXPECT_EQ(dlg.Worker(), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1200));
  EXPECT_NE(Log().find("[INFO] program close"), std::string::npos);
}

TEST_F(Controller, SetupLaunchAndLinks) {
  CMainWindow win(box, browser, MakeServices());
  CMervoDownloaderDlg& dlg = win.Dlg();
  ASSERT_TRUE(dlg.OnInitDialog());
  fs::create_directories(DefaultFolder());
  dlg.OnBnClickedRun();
  ASSERT_EQ(box.shown.size(), 1u);
  EXPECT_EQ(box.shown[0].first, "Failed to start Setup File. Please try again.");
  EXPECT_NE(Log().find("[ERROR] setup execute is failed - (2)"), std::string::npos);
  EXPECT_FALSE(dlg.IsEnded());

  WriteBytes(DefaultFolder() / "VALDRIS_Setup.exe", "#!/bin/sh\npwd > started.txt\n");
  dlg.OnBnClickedRun();
  EXPECT_TRUE(dlg.IsEnded()) << "a started setup ends the downloader";
  // The file appears when the shell opens it, its line a moment later.
  ASSERT_TRUE(WaitFor([&] { return fs::exists(DefaultFolder() / "started.txt") &&
                                   !ReadBytes(DefaultFolder() / "started.txt").empty(); }, 5000));
  EXPECT_EQ(ReadBytes(DefaultFolder() / "started.txt"), DefaultFolder().string() + "\n") << "run in the install folder";

  TempDir cwd;
  WriteBytes(cwd / "dummy.htm", "keep me");
  const fs::path before = fs::current_path();
  fs::current_path(cwd.path());
  dlg.OnStnClickedForum();
  fs::current_path(before);
  EXPECT_EQ(ReadBytes(cwd / "dummy.htm"), "keep me");
  ASSERT_TRUE(WaitFor([&] { return !Opened().empty(); }, 5000));
  EXPECT_EQ(Opened(), "http://www.valdris-game.example/forum\n") << "the address, unchanged";
}

// A setup file that is no program for this system goes to the desktop's opener; when the opener
// cannot open it either, that is a failure the user is told about, and the window stays.
TEST_F(Controller, SetupTheOpenerRefusesIsAFailure) {
  const struct {
    const char* name;
    const char* openerStatus;
    bool ended;
    const char* logged;
  } rows[] = {
      {"no handler for the file", "3", false, "[ERROR] setup execute is failed - (1155)"},
      {"the opener took it", "0", true, nullptr},
  };
  for (const auto& row : rows) {
    CMainWindow win(box, browser, MakeServices());
  CMervoDownloaderDlg& dlg = win.Dlg();
    ASSERT_TRUE(dlg.OnInitDialog());
    fs::create_directories(DefaultFolder());
    WriteBytes(DefaultFolder() / "VALDRIS_Setup.exe", "MZ\x90\x00 a program for another system");
    WriteBytes(bin / "status", row.openerStatus);
    box.shown.clear();
    dlg.OnBnClickedRun();
    EXPECT_EQ(dlg.IsEnded(), row.ended) << row.name;
    EXPECT_EQ(box.shown.size(), row.ended ? 0u : 1u) << row.name;
    if (row.logged != nullptr) {
      EXPECT_NE(Log().find(row.logged), std::string::npos) << row.name;
    }
  }
}

TEST(FolderBrowser, OpensWithTheFolderSelectedAndItsFreeSpaceShown) {
  TempDir root;
  fs::create_directories(root / "Games/VALDRIS");
  CQtFolderBrowser browser([](std::u16string_view path) -> std::uint64_t {
    return path.size() > 8 && path.substr(path.size() - 8) == u"/VALDRIS" ? 3ULL << 30 : 0;
  });
  QString line;
  QStringList selected;
  QTimer::singleShot(0, [&] {
    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(dialog, nullptr);
    line = dialog->findChild<QLabel*>(QStringLiteral("FreeSpaceLine"))->text();
    selected = dialog->selectedFiles();
    QMetaObject::invokeMethod(dialog, "accept", Qt::QueuedConnection);
  });
  std::u16string chosen;
  const std::u16string folder = W((root / "Games/VALDRIS").string());
  EXPECT_TRUE(browser.Browse(nullptr, folder, u"266.88 MB", chosen));
  EXPECT_EQ(line.toStdString(), "You need at least 266.88 MB free space to proceed.\nFree Space: 3.00 GB");
  ASSERT_EQ(selected.size(), 1);
  EXPECT_EQ(selected.front().toStdU16String(), folder);
  EXPECT_EQ(chosen, folder) << "accepting at once keeps the folder";
}

TEST(Application, OneCopyPerSessionEvenAfterACrash) {
  TempDir runtime;
  setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t first = fork();
  if (first == 0) {
    CMervoDownloaderApp copy({});
    ScriptedBox quiet;
    const char ok = copy.InitInstance(quiet) ? 1 : 0;
    (void)!write(ready[1], &ok, 1);
    pause();
    _exit(0);
  }
  char started = 0;
  ASSERT_EQ(read(ready[0], &started, 1), 1);
  ASSERT_EQ(started, 1);
  {
    CMervoDownloaderApp second({});
    ScriptedBox box;
    EXPECT_FALSE(second.InitInstance(box));
    ASSERT_EQ(box.shown.size(), 1u);
    EXPECT_EQ(box.shown[0].first, "Program is already ongoing.");
  }
  kill(first, SIGKILL);
  waitpid(first, nullptr, 0);
  CMervoDownloaderApp after({});
  ScriptedBox box;
  EXPECT_TRUE(after.InitInstance(box)) << "a crashed copy leaves no lock behind";
  EXPECT_TRUE(box.shown.empty());
}

TEST(Application, WithoutARuntimeFolderTheLockIsInTheUsersTemporaryFolder) {
  TempDir temp;
  unsetenv("XDG_RUNTIME_DIR");
  setenv("TMPDIR", temp.path().c_str(), 1);
  {
    CMervoDownloaderApp copy({});
    ScriptedBox box;
    EXPECT_TRUE(copy.InitInstance(box));
    const fs::path folder = temp / ("valdris-" + std::to_string(getuid()));
    EXPECT_TRUE(fs::exists(folder / "DOWNLOADER_FOR_VALDRIS_MUTEX"));
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
  }
  unsetenv("TMPDIR");
}

} // namespace

#include "ControllerTest.moc"
