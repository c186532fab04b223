// The controller through a view that records what it is asked: the start-up's refusals, the run
// states and their buttons, and the progress arithmetic, without any toolkit.
#include <gtest/gtest.h>

#include <functional>

#include <deque>
#include <filesystem>
#include <map>
#include <optional>

#include "Signing.h"
#include "controller/InstallFolder.h"
#include "controller/MervoDownloaderDlg.h"
#include "controller/ViewHarness.h"
#include "core/SystemQueries.h"
#include "core/Text.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Utf.h"
#include "support/Environment.h"
#include "support/FaultServer.h"
#include "support/PublishGame.h"
#include "support/TempDir.h"
#include "support/TestData.h"
#include "support/TestKeys.h"
#include "support/TestServices.h"

namespace {

using namespace controller;
using namespace window;
using namespace testsupport;
namespace fs = std::filesystem;

std::string N(std::u16string_view s) { return platform::NarrowUtf8(s); }
std::u16string W(const std::string& s) { return platform::WidenUtf8(s); }

// The names and sizes below a folder, to tell whether anything in it changed.
std::string FolderListing(const fs::path& folder) {
  std::string listing;
  std::error_code error;
  for (auto it = fs::recursive_directory_iterator(folder, error); !error && it != fs::recursive_directory_iterator();
       it.increment(error))
    listing += it->path().u8string() + " " + std::to_string(it->is_regular_file() ? it->file_size() : 0) + "\n";
  return listing;
}

// A controller whose worker cannot be allocated.
class NoMemoryForTheWorker : public CMervoDownloaderDlg {
 public:
  using CMervoDownloaderDlg::CMervoDownloaderDlg;

 protected:
  std::unique_ptr<download::CDownloadThread> CreateWorker() override { throw std::bad_alloc(); }
};

// Each table runs once per kind of view the system has: the recording view everywhere, the native
// window too on Windows.
class Controller : public ::testing::TestWithParam<std::string> {
 protected:
  TempDir home, state, config;
  FaultServer server;
  std::unique_ptr<ViewHarness> m_view = MakeView(GetParam());
  ViewHarness& view = *m_view;
  std::vector<std::pair<std::string, std::string>> files = {{"Data/a.pak", Pattern(200000, 1)},
                                                            {"VALDRIS_Setup.exe", Pattern(3000, 2)}};
  std::uint32_t now = 0;  // 0: the real tick
  std::uint64_t freeSpace = 1ULL << 40;
  std::vector<std::string> launched;
  download::TrustPolicy trust;  // no keys: unsigned lists, as designed

  void SetUp() override {
    SetEnvironment("HOME", home.path().string());
    SetEnvironment("XDG_STATE_HOME", state.path().string());
    PublishGame(server, files);
    // Where the install folder cannot follow the test's home (Windows), the test removes what it made.
    m_installFolder = fs::u8path(N(GetDefaultInstallFolder()));
    m_bInstallFolderExisted = fs::exists(m_installFolder);
  }
  void TearDown() override {
    std::error_code error;
    if (!m_bInstallFolderExisted) fs::remove_all(m_installFolder, error);
  }
  fs::path m_installFolder;
  bool m_bInstallFolderExisted = false;
  Services MakeServices() {
    Services services = TestServices(config.wide(), W(server.Url("/filelist.json")));
    services.tick = [this] { return now != 0 ? now : platform::TickCount32(); };
    services.launchProgram = [this](std::u16string_view path, std::u16string_view) {
      launched.push_back(N(path));
      return platform::ErrorCode{};
    };
    services.openAddress = [this](std::u16string_view address) {
      launched.push_back(N(address));
      return platform::ErrorCode{};
    };
    services.trust = trust;
    services.freeSpace = [this](std::u16string_view) { return freeSpace; };
    return services;
  }
  static std::unique_ptr<download::DownloadResult> Result(bool success, std::u16string_view text) {
    return download::MakeResultRecord(success, text);
  }
};

TEST_P(Controller, StartUpFailuresEndBeforeTheWindowShows) {
  struct Row {
    const char* name;
    std::function<void()> arrange;
    std::string message;
    BoxKind kind;
    bool noMemoryForTheWorker = false;
  };
  FaultScript missing;
  missing.status = 404;
  FaultScript broken;
  broken.body = "{\"Version\": ";
  const std::vector<Row> rows = {
      {"list missing", [&] { server.Script("/filelist.json", missing); },
       "Currently you are not able to reach the server. (404)", BoxKind::OkError},
      {"list not JSON", [&] { server.Script("/filelist.json", broken); }, "Invalid File List.", BoxKind::OkError},
      {"empty list", [&] { server.Script("/filelist.json", FaultScript{}); }, "Invalid File List.", BoxKind::OkError},
      {"other version", [&] { PublishGame(server, files, "2017.12.27.1 "); },
       "Newly updated version is available.\nPlease download the new version on homepage.", BoxKind::Ok},
      {"out of memory for the worker", [&] { PublishGame(server, files); },
       "Closing the program due to insufficient available memory.", BoxKind::Ok, true},
  };
  for (const Row& row : rows) {
    row.arrange();
    const std::unique_ptr<ViewHarness> fresh = MakeView(GetParam());
    const std::unique_ptr<CMervoDownloaderDlg> dlg =
        row.noMemoryForTheWorker ? std::make_unique<NoMemoryForTheWorker>(fresh->View(), MakeServices())
                                 : std::make_unique<CMervoDownloaderDlg>(fresh->View(), MakeServices());
    EXPECT_FALSE(dlg->OnInitDialog()) << row.name;
    EXPECT_TRUE(dlg->IsEnded() && fresh->Ended()) << row.name;
    EXPECT_EQ(dlg->Worker(), nullptr) << row.name;
    ASSERT_EQ(fresh->shown.size(), 1u) << row.name;
    EXPECT_EQ(fresh->shown[0].first, row.message) << row.name;
    EXPECT_EQ(fresh->shown[0].second, row.kind) << row.name;
  }
}

// The run states and what each shows: the buttons from one table, the timer, the messages.
TEST_P(Controller, StatesAndTheirButtons) {
  // The real worker's runs end at once; their records stay queued while the test plays its own.
  FaultScript missing;
  missing.status = 404;
  server.Script("/game/Data/a.pak", missing);
  // Another product of the vendor keeps its settings beside ours.
  const platform::CSettingsStore store(config.wide());
  ASSERT_EQ(store.CreateKey(u"SOFTWARE\\Mervolink\\OtherGame"), platform::ERROR_SUCCESS);
  ASSERT_EQ(store.SetString(u"SOFTWARE\\Mervolink\\OtherGame", u"InstallPath", u"elsewhere"), platform::ERROR_SUCCESS);
  CMervoDownloaderDlg dlg(view.View(), MakeServices());
  ASSERT_TRUE(dlg.OnInitDialog());
  EXPECT_TRUE(view.Prepared());
  EXPECT_EQ(view.TextOf(IDC_STATIC_FOLDER), GetDefaultInstallFolder());
  EXPECT_EQ(dlg.InstallFolder(), GetDefaultInstallFolder()) << "the folder is the controller's own";
  EXPECT_EQ(view.Text(IDC_CAPTION_STATUS), "Transfer Status");
  EXPECT_EQ(view.ColourOf(IDC_CAPTION_STATUS), Rgb(255, 255, 0));
  EXPECT_TRUE(dlg.State() == RunState::Ready && view.Buttons(RunState::Ready) && !view.TimerRunning());

  const struct {
    const char* name;
    std::function<void()> event;
    RunState state;
    bool timer;
    std::size_t messages;
  } steps[] = {
      {"start", [&] { dlg.OnBnClickedStart(); }, RunState::Downloading, true, 0},
      {"stop answered No", [&] { view.answers = {false}; dlg.OnBnClickedStop(); }, RunState::Downloading, true, 1},
      {"stop answered Yes", [&] { dlg.OnBnClickedStop(); }, RunState::Stopped, false, 2},
      {"a failure of the stopped run shows nothing", [&] { dlg.OnDownloadResult(Result(false, u"late")); },
       RunState::Stopped, false, 2},
      {"start again", [&] { dlg.OnBnClickedStart(); }, RunState::Downloading, true, 2},
      {"a failed run", [&] { dlg.OnDownloadResult(Result(false, u"Failed to check file size.")); }, RunState::Failed,
       false, 3},
      {"start after the failure", [&] { dlg.OnBnClickedStart(); }, RunState::Downloading, true, 3},
      {"the run completes", [&] { dlg.OnDownloadResult(Result(true, u"")); }, RunState::Complete, false, 3},
  };
  for (const auto& step : steps) {
    step.event();
    EXPECT_EQ(dlg.State(), step.state) << step.name;
    EXPECT_TRUE(view.Buttons(step.state)) << step.name;
    EXPECT_EQ(view.TimerRunning(), step.timer) << step.name;
    EXPECT_EQ(dlg.IsTimerRunning(), step.timer) << step.name;
    EXPECT_EQ(view.shown.size(), step.messages) << step.name;
  }
  EXPECT_EQ(view.shown[2].first, "Failed to check file size.");
  std::u16string saved;
  EXPECT_FALSE(GetSavedInstallPath(store, saved)) << "a complete run forgets the folder";
  EXPECT_NE(store.OpenKey(kVendorKey), platform::ERROR_SUCCESS) << "the product's key is gone";
  EXPECT_EQ(store.QueryString(u"SOFTWARE\\Mervolink\\OtherGame", u"InstallPath", saved), platform::ERROR_SUCCESS)
      << "the other product's settings stay";
  dlg.OnBnClickedRun();
  ASSERT_EQ(launched.size(), 1u);
  EXPECT_EQ(launched[0], N(core::JoinPath(GetDefaultInstallFolder(), kSetupFileName)));
  EXPECT_TRUE(view.Ended());
}

// Start refuses a run the disk cannot hold and a folder that holds something else; the folder of an
// unfinished download is taken whatever it holds.
TEST_P(Controller, StartRefusesTooLittleSpaceAndAForeignFolder) {
  if (m_bInstallFolderExisted) GTEST_SKIP() << "the default install folder is someone's already";
  CMervoDownloaderDlg dlg(view.View(), MakeServices());
  ASSERT_TRUE(dlg.OnInitDialog());
  freeSpace = dlg.FileList().m_nTotalSize;  // equal is not enough
  dlg.OnBnClickedStart();
  ASSERT_EQ(view.shown.size(), 1u);
  EXPECT_EQ(view.shown[0].first, "Insufficient free space in storage.");
  freeSpace = 1ULL << 40;
  fs::create_directories(m_installFolder / "empty-subfolder");  // a sub-folder makes it non-empty
  dlg.OnBnClickedStart();
  ASSERT_EQ(view.shown.size(), 2u);
  EXPECT_EQ(view.shown[1].first, "Folder is not empty.\nPlease create another folder and try it again.");
  EXPECT_TRUE(dlg.State() == RunState::Ready && view.Buttons(RunState::Ready) && !view.TimerRunning());
  const platform::CSettingsStore store(config.wide());
  SaveInstallPath(store, GetDefaultInstallFolder());
  EXPECT_TRUE(IsUsableInstallFolder(store, GetDefaultInstallFolder()));
}

TEST_P(Controller, SavedFolderIsOfferedAndNoKeepsTheDefault) {
  TempDir saved;
  const platform::CSettingsStore store(config.wide());
  SaveInstallPath(store, saved.wide());
  for (const bool yes : {false, true}) {
    const std::unique_ptr<ViewHarness> fresh = MakeView(GetParam());
    fresh->answers = {yes};
    CMervoDownloaderDlg dlg(fresh->View(), MakeServices());
    ASSERT_TRUE(dlg.OnInitDialog());
    ASSERT_EQ(fresh->shown.size(), 1u);
    EXPECT_EQ(fresh->shown[0].first, "Previously used Download Folder is found.\n\n" + N(saved.wide()) +
                                         "\n\nSelect the folder as Download Folder?");
    EXPECT_EQ(fresh->TextOf(IDC_STATIC_FOLDER), yes ? saved.wide() : GetDefaultInstallFolder());
  }
  std::u16string value;
  EXPECT_TRUE(GetSavedInstallPath(store, value)) << "No leaves the value in place";
}

TEST_P(Controller, ChangeFolderCancelInvalidAndChosen) {
  CMervoDownloaderDlg dlg(view.View(), MakeServices());
  ASSERT_TRUE(dlg.OnInitDialog());
  std::u16string programs;
  ASSERT_TRUE(core::GetProgramFilesFolder(programs));
  dlg.OnBnClickedChangePath();  // Cancel
  EXPECT_EQ(view.browsedFrom, programs)
      << "the default folder is missing: the browser opens on the programs folder (the home folder on Linux)";
  EXPECT_EQ(view.TextOf(IDC_STATIC_FOLDER), GetDefaultInstallFolder());
  view.browseAnswer = u"relative/folder";
  dlg.OnBnClickedChangePath();
  ASSERT_EQ(view.shown.size(), 1u);
  EXPECT_EQ(view.shown[0].first, "Invalid Folder.");
  TempDir chosen;
  view.browseAnswer = chosen.wide();
  freeSpace = 5 * 1024 * 1024;
  dlg.OnBnClickedChangePath();
  EXPECT_EQ(view.TextOf(IDC_STATIC_FOLDER), chosen.wide());
  EXPECT_EQ(view.Text(IDC_STATIC_AVAILABLE), "5.00 MB");
  EXPECT_EQ(dlg.Worker()->DownloadPath(), chosen.wide());
  dlg.OnBnClickedChangePath();
  EXPECT_EQ(view.browsedFrom, chosen.wide()) << "a chosen folder is where the browser opens next";
}

// The run ends while the stop question is open: the answer comes too late to stop anything, and the
// run's own end stands.
TEST_P(Controller, AResultThatArrivesWhileTheStopQuestionIsOpenStands) {
  CMervoDownloaderDlg dlg(view.View(), MakeServices());
  ASSERT_TRUE(dlg.OnInitDialog());
  dlg.OnBnClickedStart();
  view.whileShown = [&] { dlg.OnDownloadResult(Result(true, u"")); };
  dlg.OnBnClickedStop();  // answered Yes
  EXPECT_EQ(dlg.State(), RunState::Complete);
  EXPECT_TRUE(view.Buttons(RunState::Complete));
  EXPECT_FALSE(view.TimerRunning());
}

// The window's arithmetic for the worker's records, by a fixed clock.
TEST_P(Controller, ProgressArithmetic) {
  CMervoDownloaderDlg dlg(view.View(), MakeServices());
  ASSERT_TRUE(dlg.OnInitDialog());
  // Records a second apart, as the worker posts them.
  const struct {
    const char* name;
    std::uint32_t at;  // the tick the record arrives at
    std::int32_t index;
    bool verified;
    std::uint32_t start;
    std::uint64_t total, received;
    const char* timeLeft;  // nullptr: not checked
    const char* speed;
    const char* totalDone;
    int fileBar;  // -1: not checked
  } rows[] = {
      {"a day, an hour, a minute and a second show 01:01:00", 10000, 0, false, 9000, 1000 + 90061ULL * 1000, 1000,
       "01:01:00", "1000 Bytes/sec", "1000 Bytes", 0},
      {"the same byte count twice: no speed and nothing added", 11000, 0, false, 10000, 1000 + 3661ULL * 1000, 1000,
       "01:01:01", "", "1000 Bytes", -1},
      {"a verified entry leaves the speed alone", 12000, 1, true, 11000, 3000, 3000, nullptr, "", "3.91 KB", 100},
      {"e = 0: shown, but the time left stays; a new entry shows the speed of the last seconds", 13000, 0, false,
       13000, 5000, 2000, "00:00:00", "666 Bytes/sec", "5.86 KB", 40},
      {"4000 + 2000 + 500 bytes", 14000, 0, false, 13000, 5000, 2500, "00:00:01", "500 Bytes/sec", "6.35 KB", 50},
      {"more than announced: nothing left, never negative", 15000, 0, false, 14000, 5000, 7000, "00:00:00", nullptr,
       nullptr, 100},
  };
  for (const auto& row : rows) {
    now = row.at;
    auto record = std::make_unique<download::DownloadProgress>();
    record->nFileIndex = row.index;
    record->bVerified = row.verified;
    record->dwStartTime = row.start;
    record->dwTotal = row.total;
    record->dwReceived = row.received;
    dlg.OnDownloadProgress(std::move(record));
    if (row.timeLeft) {
      EXPECT_EQ(view.Text(IDC_STATIC_TIME_LEFT), row.timeLeft) << row.name;
    }
    if (row.speed) {
      EXPECT_EQ(view.Text(IDC_STATIC_SPEED), row.speed) << row.name;
    }
    if (row.totalDone) {
      EXPECT_EQ(view.Text(IDC_STATIC_TOTAL_DONE), row.totalDone) << row.name;
    }
    if (row.fileBar >= 0) {
      EXPECT_EQ(view.BarOf(IDC_PROGRESS_FILE), row.fileBar) << row.name;
    }
  }
  EXPECT_EQ(view.Text(IDC_STATIC_FILE_NAME), "Data/a.pak") << "the name of the last entry that changed";
  dlg.OnDownloadProgress(nullptr);  // ignored
}

// Somebody between the player and the server serves lists of their own. With the publisher's key
// built in, each is refused before any file is fetched or written, and nothing is ever started.
TEST_P(Controller, SignedListsRefuseEveryTampering) {
  TempDir keys;
  WriteBytes(keys / "publisher.pem", kTestPrivateKeyPem);
  std::string error;
  ASSERT_TRUE(filelisttool::GenerateKeyPair((keys / "stranger.pem").string(), error)) << error;
  const auto sign = [&](const std::string& key, const std::string& document) {
    std::string signature;
    EXPECT_TRUE(filelisttool::SignDocument((keys / key).string(), document, signature, error)) << error;
    return signature;
  };
  trust.keys = {kTestPublicKey};
  std::int64_t utcNow = 1800000000;  // 2027-01-15T08:00:00Z
  trust.nowUtc = [&utcNow] { return utcNow; };
  // The user's memory of the newest list taken.
  std::string newest;
  trust.readNewestSigned = [&newest](std::string& text) {
    text = newest;
    return !newest.empty();
  };
  trust.writeNewestSigned = [&newest](const std::string& text) { newest = text; };

  filelist::CFileList list = MakeList(server.Url("/game/"), files);
  list.m_strSigned = "2027-01-10T00:00:00Z";
  list.m_strExpires = "2027-02-01T00:00:00Z";
  const std::string genuine = filelist::SerializeJsonText(list);
  filelist::CFileList swapped = list;
  swapped.m_vecFileInfo[1].CheckSum = Md5Of("#!/bin/sh\necho owned\n");
  swapped.m_vecFileInfo[1].Size = 21;
  const std::string forged = filelist::SerializeJsonText(swapped);
  const auto with = [&list](const std::function<void(filelist::CFileList&)>& change) {
    filelist::CFileList changed = list;
    change(changed);
    return filelist::SerializeJsonText(changed);
  };
  const std::string expired = with([](filelist::CFileList& l) { l.m_strExpires = "2027-01-01T00:00:00Z"; });
  const std::string newer = with([](filelist::CFileList& l) { l.m_strSigned = "2027-01-12T00:00:00Z"; });
  const std::string noExpiry = with([](filelist::CFileList& l) { l.m_strExpires.clear(); });
  const std::string noSigningTime = with([](filelist::CFileList& l) { l.m_strSigned.clear(); });
  std::string nullExpiry = noExpiry;
  nullExpiry.insert(nullExpiry.find('{') + 1, "\"Expires\": null,");
  std::string emptyExpiry = noExpiry;
  emptyExpiry.insert(emptyExpiry.find('{') + 1, "\"Expires\": \"\",");
  const std::string notSigned = "The file list is not signed by the publisher.";
  const std::string invalid = "Invalid File List.";
  const fs::path installFolder = fs::u8path(N(GetDefaultInstallFolder()));

  const struct {
    const char* name;
    std::string list;
    std::optional<std::string> signature;  // none: the server has no signature
    std::string refusal;                   // empty: the list is trusted
  } rows[] = {
      {"the publisher's list", genuine, sign("publisher.pem", genuine), ""},
      {"the publisher's next list", newer, sign("publisher.pem", newer), ""},
      {"the earlier list replayed", genuine, sign("publisher.pem", genuine),
       "The file list is older than the one already accepted. Please try again later."},
      {"a file and its digest swapped", forged, sign("publisher.pem", genuine), notSigned},
      {"the signature stripped", genuine, std::nullopt, notSigned},
      {"the signature of another list", genuine, sign("publisher.pem", forged), notSigned},
      {"a byte appended to the list", genuine + " ", sign("publisher.pem", genuine), notSigned},
      {"signed by an unknown key", forged, sign("stranger.pem", forged), notSigned},
      {"a truncated signature", genuine, sign("publisher.pem", genuine).substr(0, 40), notSigned},
      {"a signature that is not base64", genuine, std::string("not a signature!\n"), notSigned},
      {"an expired list replayed", expired, sign("publisher.pem", expired), "The file list has expired."},
      {"a signed list without Expires", noExpiry, sign("publisher.pem", noExpiry), invalid},
      {"a signed list with Expires null", nullExpiry, sign("publisher.pem", nullExpiry), invalid},
      {"a signed list with Expires empty", emptyExpiry, sign("publisher.pem", emptyExpiry), invalid},
      {"a signed list without its signing time", noSigningTime, sign("publisher.pem", noSigningTime), invalid},
  };
  for (const auto& row : rows) {
    FaultScript document;
    document.body = row.list;
    server.Script("/filelist.json", document);
    FaultScript signature;
    signature.status = row.signature ? 200 : 404;
    signature.body = row.signature.value_or("not found");
    server.Script("/filelist.json.sig", signature);
    FaultScript evil;
    evil.body = "#!/bin/sh\necho owned\n";
    server.Script("/game/VALDRIS_Setup.exe", evil);
    launched.clear();

    const std::unique_ptr<ViewHarness> fresh = MakeView(GetParam());
    const std::string before = FolderListing(installFolder);
    CMervoDownloaderDlg dlg(fresh->View(), MakeServices());
    const bool started = dlg.OnInitDialog();
    EXPECT_EQ(started, row.refusal.empty()) << row.name;
    if (row.refusal.empty()) continue;
    ASSERT_EQ(fresh->shown.size(), 1u) << row.name;
    EXPECT_EQ(fresh->shown[0].first, row.refusal) << row.name;
    EXPECT_EQ(fresh->shown[0].second, BoxKind::OkError) << row.name;
    EXPECT_EQ(dlg.Worker(), nullptr) << row.name;
    EXPECT_EQ(FolderListing(installFolder), before) << row.name << ": no file of the install folder is touched";
    EXPECT_TRUE(launched.empty()) << row.name;
  }
  for (const std::string& head : server.Requests())
    EXPECT_EQ(head.find("GET /game/"), std::string::npos) << "no game file was ever asked for";
  EXPECT_EQ(newest, "2027-01-12T00:00:00Z") << "the newest list taken is remembered";

  // A list that expires while the window stands open is judged again when Start is pressed.
  newest.clear();
  FaultScript document;
  document.body = genuine;
  server.Script("/filelist.json", document);
  FaultScript signature;
  signature.body = sign("publisher.pem", genuine);
  server.Script("/filelist.json.sig", signature);
  const std::unique_ptr<ViewHarness> opened = MakeView(GetParam());
  CMervoDownloaderDlg dlg(opened->View(), MakeServices());
  ASSERT_TRUE(dlg.OnInitDialog());
  utcNow = 1800000000 + 30 * 86400;  // past 2027-02-01
  dlg.OnBnClickedStart();
  ASSERT_EQ(opened->shown.size(), 1u);
  EXPECT_EQ(opened->shown[0].first, "The file list has expired.");
  EXPECT_FALSE(dlg.Worker()->IsRunning()) << "no run starts";
}

// Which folders Start takes: an empty or missing one, or the remembered folder of an unfinished
// download whatever it holds; the same rules on every system, names in any script included.
TEST(InstallFolder, WhichFoldersStartTakes) {
  TempDir dir, config;
  const platform::CSettingsStore store(config.wide());
  const std::u16string base = dir.wide() + platform::kPathSeparator;
  const auto make = [](const std::u16string& folder, const std::u16string& file) {
    fs::create_directories(fs::path(folder));
    if (!file.empty()) WriteBytes(fs::path(folder + platform::kPathSeparator + file), "x");
  };
  const bool caseBlind = kIsWindows;  // Windows compares names without case
  const struct {
    const char* name;
    std::u16string folder;
    std::function<void()> arrange;
    bool usable;
  } rows[] = {
      {"missing", base + u"missing", [] {}, true},
      {"empty", base + u"empty", [&] { make(base + u"empty", u""); }, true},
      {"only an empty sub-folder", base + u"sub", [&] { make(base + u"sub" + platform::kPathSeparator + u"inner", u""); },
       false},
      {"a file", base + u"full", [&] { make(base + u"full", u"a.pak"); }, false},
      {"a hidden file", base + u"hidden", [&] { make(base + u"hidden", u".a"); }, false},
      {"a non-empty folder with a Korean name", base + u"게임", [&] { make(base + u"게임", u"데이터.pak"); }, false},
      {"an empty folder with a Korean name", base + u"빈폴더", [&] { make(base + u"빈폴더", u""); }, true},
      {"the remembered folder, non-empty", base + u"saved",
       [&] {
         make(base + u"saved", u"a.pak");
         SaveInstallPath(store, base + u"saved");
       },
       true},
      {"the remembered folder in another letter case", base + u"SAVED",
       [&] {
         make(base + u"SAVED", u"b.pak");  // the same folder where names are compared without case
         SaveInstallPath(store, base + u"saved");
       },
       caseBlind},
      {"the remembered Korean folder", base + u"게임",
       [&] { SaveInstallPath(store, base + u"게임"); }, true},
  };
  for (const auto& row : rows) {
    row.arrange();
    EXPECT_EQ(IsUsableInstallFolder(store, row.folder), row.usable) << row.name;
  }
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Views, Controller, ::testing::ValuesIn(testsupport::ViewKinds()),
                         [](const ::testing::TestParamInfo<std::string>& kind) { return kind.param; });
