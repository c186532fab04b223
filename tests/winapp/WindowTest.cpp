// The native Windows window under Wine: its layout in pixels, a run driven by clicks on its
// buttons, the keys it drops, and its skinned controls drawing into real device contexts.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <thread>

#include "controller/Services.h"
#include "core/StringTable.h"
#include "platform/Clock.h"
#include "platform/Files.h"
#include "platform/Utf.h"
#include "skin/WindowLayout.h"
#include "support/FaultServer.h"
#include "support/ProgressBarCases.h"
#include "support/PublishGame.h"
#include "support/TempDir.h"
#include "support/TestData.h"
#include "support/TestServices.h"
#include "winapp/MainWindow.h"
#include "winapp/Resources.h"
#include "winui/Dpi.h"
#include "winui/GdiHandles.h"
#include "winui/WindowText.h"

#include <windows.h>
#include <commctrl.h>
#include <oleacc.h>

namespace {

using controller::BoxKind;
using window::RunState;
using controller::Services;
using window::IDC_BUTTON_CHANGE_PATH;
using window::IDC_BUTTON_RUN;
using window::IDC_BUTTON_START;
using window::IDC_BUTTON_STOP;
using window::IDC_CAPTION_FILE_NAME;
using window::IDC_CAPTION_FOLDER;
using window::IDC_PROGRESS_TOTAL;
using window::IDC_STATIC_BACKGROUND;
using window::IDC_STATIC_FILE_DONE;
using window::IDC_STATIC_FOLDER;
using window::IDC_STATIC_TOTAL_DONE;
using namespace testsupport;
namespace fs = std::filesystem;

std::string N(std::u16string_view s) { return platform::NarrowUtf8(s); }
std::u16string W(const std::string& s) { return platform::WidenUtf8(s); }

// A 32-bit picture to draw into and read back.
class CPicture {
 public:
  CPicture(int w, int h) : m_dc(CreateCompatibleDC(nullptr)) {
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    m_bitmap = CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits), nullptr, 0);
    m_old = SelectObject(m_dc, m_bitmap);
    m_width = w;
  }
  ~CPicture() {
    SelectObject(m_dc, m_old);
    DeleteObject(m_bitmap);
    DeleteDC(m_dc);
  }
  HDC Dc() const { return m_dc; }
  COLORREF At(int x, int y) const {
    GdiFlush();
    const std::uint32_t p = m_bits[y * m_width + x];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
  void Fill(COLORREF colour) const {
    RECT all{0, 0, m_width, 4096};
    const HBRUSH brush = CreateSolidBrush(colour);
    FillRect(m_dc, &all, brush);
    DeleteObject(brush);
  }

 private:
  HDC m_dc;
  HBITMAP m_bitmap = nullptr;
  HGDIOBJ m_old = nullptr;
  std::uint32_t* m_bits = nullptr;
  int m_width = 0;
};

// A user's session: a game on the fault server, scripted boxes and folder browser, the launcher
// recording what it was asked to start.
class Window : public ::testing::Test {
 protected:
  FaultServer server;
  TempDir folder, config;
  std::vector<std::pair<std::string, std::string>> files = {{"Data/a.pak", Pattern(200000, 1)},
                                                            {"VALDRIS_Setup.exe", Pattern(3000, 2)}};
  std::vector<std::string> shown;
  std::deque<bool> answers;
  std::vector<std::string> launched;

  void SetUp() override { PublishGame(server, files); }

  winapp::WinDialogs Dialogs() {
    return {[this](HWND, std::u16string_view text, BoxKind) {
              shown.push_back(N(text));
              if (answers.empty()) return true;
              const bool answer = answers.front();
              answers.pop_front();
              return answer;
            },
            [this](HWND, std::u16string_view, std::u16string_view, std::u16string& chosen) {
              chosen = folder.wide();
              return true;
            }};
  }
  Services MakeServices() {
    Services services = TestServices(config.wide(), W(server.Url("/filelist.json")));
    services.launchProgram = [this](std::u16string_view path, std::u16string_view) {
      launched.push_back(N(path));
      return platform::ErrorCode{};
    };
    services.openAddress = [](std::u16string_view) { return platform::ErrorCode{}; };
    return services;
  }
  // Runs the window's messages as a loop would, until done or the time is up.
  template <typename Predicate>
  static bool PumpUntil(winapp::CMainWindow& window, Predicate done, int ms = 15000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (window.PreTranslateMessage(message) || IsDialogMessageW(window.Hwnd(), &message)) continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }
  static void Click(winapp::CMainWindow& window, int id) { SendDlgItemMessageW(window.Hwnd(), id, BM_CLICK, 0, 0); }
  static bool On(winapp::CMainWindow& window, int id) { return IsWindowEnabled(GetDlgItem(window.Hwnd(), id)); }
  static std::string Text(winapp::CMainWindow& window, int id) {
    return N(winui::WindowText(GetDlgItem(window.Hwnd(), id)));
  }
};

// Every text the label shows fits its width in the label's own font.
void ExpectTextsFit(winapp::CMainWindow& window, const std::string& situation) {
  const winui::CClientDc screen(nullptr);
  const auto widthIn = [&](HWND control, const std::u16string& text) {
    const winui::CSelectObject select(screen.Get(), reinterpret_cast<HGDIOBJ>(SendMessageW(control, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(screen.Get(), reinterpret_cast<const wchar_t*>(text.c_str()), static_cast<int>(text.size()),
                          &extent);
    return extent.cx;
  };
  const auto widthOf = [](HWND control) {
    RECT r;
    GetClientRect(control, &r);
    return r.right;
  };
  for (const skin::WidestText& widest : skin::kWidestTexts) {
    const HWND control = GetDlgItem(window.Hwnd(), widest.id);
    EXPECT_LE(widthIn(control, widest.text), widthOf(control)) << situation << ": " << N(widest.text);
  }
  for (const skin::ControlRow& row : skin::kControls) {
    if (row.kind != skin::Kind::Label && row.kind != skin::Kind::Link) continue;
    const HWND control = GetDlgItem(window.Hwnd(), row.id);
    EXPECT_LE(widthIn(control, W(row.text)), widthOf(control)) << situation << ": " << row.text;
    EXPECT_LE(widthIn(control, winui::WindowText(control)), widthOf(control)) << situation << ": " << row.text;
  }
}

// The design's layout at `dpi`: every control, button image and the background at that scale.
void ExpectLayoutAt(winapp::CMainWindow& window, UINT dpi) {
  const std::string at = std::to_string(dpi) + " dpi";
  const auto s = [dpi](int length) { return winui::Scaled(length, dpi); };
  RECT client;
  GetClientRect(window.Hwnd(), &client);
  EXPECT_EQ(client.right, s(skin::kWindowWidth)) << at;
  EXPECT_EQ(client.bottom, s(skin::kWindowHeight)) << at;
  for (const skin::ControlRow& row : skin::kControls) {
    const HWND control = GetDlgItem(window.Hwnd(), row.id);
    ASSERT_NE(control, nullptr) << row.id;
    RECT r;
    GetWindowRect(control, &r);
    MapWindowPoints(HWND_DESKTOP, window.Hwnd(), reinterpret_cast<POINT*>(&r), 2);
    const bool background = row.kind == skin::Kind::Background;
    EXPECT_EQ(r.left, background ? 0 : s(row.x)) << at << ", " << row.id;
    EXPECT_EQ(r.top, background ? 0 : s(row.y)) << at << ", " << row.id;
    EXPECT_EQ(r.right - r.left, s(background ? skin::kWindowWidth : row.w))
        << at << ", " << row.id << ": buttons take their image's size";
    EXPECT_EQ(r.bottom - r.top, s(background ? skin::kWindowHeight : row.h)) << at << ", " << row.id;
    EXPECT_EQ(IsWindowVisible(control) != FALSE, row.kind != skin::Kind::Link) << row.id << ": only the links hide";
  }
  BITMAP background{};
  GetObjectW(reinterpret_cast<HGDIOBJ>(
                 SendDlgItemMessageW(window.Hwnd(), IDC_STATIC_BACKGROUND, STM_GETIMAGE, IMAGE_BITMAP, 0)),
             sizeof background, &background);
  EXPECT_EQ(background.bmWidth, s(skin::kWindowWidth)) << at << ": the picture is drawn at the scale, not stretched";
  // And the artwork fills it: the moon is where the design has it, at the scale.
  const winui::UniqueMemoryDc memory(CreateCompatibleDC(nullptr));
  const winui::CSelectObject select(memory.get(), reinterpret_cast<HGDIOBJ>(SendDlgItemMessageW(
                                                      window.Hwnd(), IDC_STATIC_BACKGROUND, STM_GETIMAGE, IMAGE_BITMAP, 0)));
  EXPECT_GT(GetRValue(GetPixel(memory.get(), s(222), s(137))), 200) << at;
  ExpectTextsFit(window, at);
}

// The layout is the design's at the system's density (96 dpi in the test prefix), and follows the
// window to monitors of other densities: 144 and 192 dpi are 1.5x and 2x, 120 dpi lies between.
TEST_F(Window, EveryControlAtItsPixelRectangleAtEveryScale) {
  winapp::CMainWindow window(Dialogs(), MakeServices());
  ASSERT_TRUE(window.Create());
  ExpectLayoutAt(window, window.Dpi());
  for (const UINT dpi : {144u, 192u, 120u, 96u}) {
    RECT suggested{10, 10, 10 + winui::Scaled(skin::kWindowWidth, dpi), 10 + winui::Scaled(skin::kWindowHeight, dpi)};
    SendMessageW(window.Hwnd(), WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
    EXPECT_EQ(window.Dpi(), dpi);
    ExpectLayoutAt(window, dpi);
  }
  EXPECT_EQ(N(winui::WindowText(window.Hwnd())), "Downloader For VALDRIS");
  EXPECT_EQ(window.Label(IDC_CAPTION_FOLDER)->TextColor(), RGB(255, 255, 0));
  EXPECT_EQ(Text(window, IDC_CAPTION_FILE_NAME), "File Name :");
  EXPECT_NE(SendDlgItemMessageW(window.Hwnd(), IDC_STATIC_BACKGROUND, STM_GETIMAGE, IMAGE_BITMAP, 0), 0);
  // The About item sits at the end of the system menu.
  const HMENU menu = GetSystemMenu(window.Hwnd(), FALSE);
  wchar_t item[128] = {};
  GetMenuStringW(menu, IDM_ABOUTBOX, item, 128, MF_BYCOMMAND);
  EXPECT_EQ(N(std::u16string(item, item + wcslen(item))).rfind("Mervo_Downloader", 0), 0u);
  // The window runs elevated; the shell's announcement of its taskbar button must still reach it.
  // (Wine shows no isolation between the two, so the filter itself is what can be seen here.)
  EXPECT_TRUE(window.TaskbarMessageAllowed());
}

// Stock Windows has none of the narrow faces: whichever of the window's faces a system has, every
// text stays whole in its rectangle (each label at the largest size that fits it).
TEST_F(Window, EveryTextFitsInEachOfTheWindowsFaces) {
  winapp::CMainWindow window(Dialogs(), MakeServices());
  ASSERT_TRUE(window.Create());
  EXPECT_FALSE(window.FontFace().empty()) << "Wine has Tahoma at least";
  int tried = 0;
  for (const char16_t* face : skin::kFontFaces) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    std::u16string(face).copy(reinterpret_cast<char16_t*>(wanted.lfFaceName), LF_FACESIZE - 1);
    const winui::CClientDc screen(nullptr);
    bool installed = false;
    EnumFontFamiliesExW(
        screen.Get(), &wanted,
        [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) -> int {
          *reinterpret_cast<bool*>(found) = true;
          return 0;
        },
        reinterpret_cast<LPARAM>(&installed), 0);
    if (!installed) continue;
    ++tried;
    window.UseFontFace(face);
    ExpectTextsFit(window, N(face));
  }
  EXPECT_GE(tried, 2);
}

// What a screen reader and the keyboard find: each button's name in the user's language and its
// role, each label's text as a static text, the bars as progress bars; Tab through the buttons in
// reading order, starting on Start.
TEST_F(Window, ScreenReadersAndTheKeyboardFindEveryControl) {
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  {
    winapp::CMainWindow window(Dialogs(), MakeServices());
    ASSERT_TRUE(window.Create());
    const auto accessible = [&](int id, std::string& name) {
      IAccessible* object = nullptr;
      long role = 0;
      name.clear();
      if (FAILED(AccessibleObjectFromWindow(GetDlgItem(window.Hwnd(), id), static_cast<DWORD>(OBJID_CLIENT),
                                            __uuidof(IAccessible), reinterpret_cast<void**>(&object))))
        return role;
      VARIANT self{};
      self.vt = VT_I4;
      self.lVal = CHILDID_SELF;
      BSTR text = nullptr;
      if (SUCCEEDED(object->get_accName(self, &text)) && text) {
        name = N(std::u16string(reinterpret_cast<const char16_t*>(text), SysStringLen(text)));
        SysFreeString(text);
      }
      VARIANT kind{};
      if (SUCCEEDED(object->get_accRole(self, &kind)) && kind.vt == VT_I4) role = kind.lVal;
      object->Release();
      return role;
    };
    // The roles come from the system's proxies for the standard classes (Wine's report every
    // window as a client area): each control keeps the class that gives it its role on Windows.
    const auto classOf = [&](int id) {
      wchar_t name[64] = {};
      RealGetWindowClassW(GetDlgItem(window.Hwnd(), id), name, 64);
      return N(std::u16string(reinterpret_cast<const char16_t*>(name)));
    };
    std::string name;
    for (const skin::ButtonRow& row : skin::kButtons) {
      const long role = accessible(row.id, name);
      EXPECT_TRUE(role == ROLE_SYSTEM_PUSHBUTTON || role == ROLE_SYSTEM_CLIENT) << row.id;
      EXPECT_EQ(name, N(core::LoadUiString(row.name))) << row.id;
      EXPECT_EQ(classOf(row.id), "Button") << row.id;
    }
    for (const skin::ControlRow& row : skin::kControls) {
      if (row.kind == skin::Kind::Label || row.kind == skin::Kind::Link) {
        accessible(row.id, name);
        EXPECT_EQ(name, Text(window, row.id)) << row.text;
        EXPECT_EQ(classOf(row.id), "Static") << row.text;
      } else if (row.kind == skin::Kind::Bar) {
        EXPECT_EQ(classOf(row.id), "msctls_progress32") << row.id;
      }
    }
    std::vector<int> tabOrder, reading;
    for (HWND child = GetWindow(window.Hwnd(), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
      if (GetWindowLongPtrW(child, GWL_STYLE) & WS_TABSTOP) tabOrder.push_back(GetDlgCtrlID(child));
    for (const skin::ButtonRow& row : skin::kButtons) reading.push_back(row.id);
    EXPECT_EQ(tabOrder, reading);
    EXPECT_EQ(GetDlgCtrlID(GetFocus()), IDC_BUTTON_START);
    // The focus rectangle shows once the keyboard moves the focus, not after clicks.
    const auto startEdge = [&] {
      CPicture picture(77, 27);
      DRAWITEMSTRUCT item{ODT_BUTTON, IDC_BUTTON_START, 0, ODA_DRAWENTIRE, ODS_FOCUS,
                          GetDlgItem(window.Hwnd(), IDC_BUTTON_START), picture.Dc(), {0, 0, 77, 27}, 0};
      window.Button(IDC_BUTTON_START)->DrawItem(item);
      std::vector<COLORREF> edge;
      for (int x = 0; x < 77; ++x) edge.push_back(picture.At(x, 2));
      return edge;
    };
    const std::vector<COLORREF> beforeKeyboard = startEdge();
    const MSG tab{GetFocus(), WM_KEYDOWN, VK_TAB, 0, 0, {}};
    window.PreTranslateMessage(tab);
    EXPECT_NE(startEdge(), beforeKeyboard);
  }
  if (SUCCEEDED(com)) CoUninitialize();
}

TEST_F(Window, ClicksRunTheGameInStopAndResumeWithARange) {
  PublishGame(server, files, "2017.12.27.1", 20000, 60);  // 200 KB in ten slow pieces
  winapp::CMainWindow window(Dialogs(), MakeServices());
  ASSERT_TRUE(window.Create());
  Click(window, IDC_BUTTON_CHANGE_PATH);
  EXPECT_EQ(Text(window, IDC_STATIC_FOLDER), folder.path().string());
  Click(window, IDC_BUTTON_START);
  EXPECT_TRUE(On(window, IDC_BUTTON_STOP) && !On(window, IDC_BUTTON_START));
  ASSERT_TRUE(PumpUntil(window, [&] { return Text(window, IDC_STATIC_FILE_DONE) != "0 Bytes"; }));
  Click(window, IDC_BUTTON_STOP);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "Stop checking and downloading?");
  EXPECT_TRUE(On(window, IDC_BUTTON_START) && !On(window, IDC_BUTTON_STOP));

  PumpUntil(window, [] { return false; }, 100);  // the stopped run's result shows no message
  EXPECT_EQ(shown.size(), 1u);
  PublishGame(server, files);
  Click(window, IDC_BUTTON_START);
  ASSERT_TRUE(PumpUntil(window, [&] { return On(window, IDC_BUTTON_RUN); }));
  for (const auto& [name, bytes] : files) EXPECT_EQ(ReadBytes(folder / name), bytes) << name;
  bool ranged = false;
  for (const std::string& head : server.Requests()) ranged = ranged || head.find("Range: bytes=") != std::string::npos;
  EXPECT_TRUE(ranged) << "the stopped file resumes where it stopped";
  EXPECT_EQ(SendDlgItemMessageW(window.Hwnd(), IDC_PROGRESS_TOTAL, PBM_GETPOS, 0, 0), 100);
  EXPECT_EQ(N(window.Bar(IDC_PROGRESS_TOTAL)->Text()), "100%");
  EXPECT_EQ(Text(window, IDC_STATIC_TOTAL_DONE), "198.24 KB");
  EXPECT_EQ(shown.size(), 1u) << "a complete run shows no message: " << shown.back();

  Click(window, IDC_BUTTON_RUN);
  ASSERT_EQ(launched.size(), 1u);
  EXPECT_EQ(launched[0], (folder.path() / "VALDRIS_Setup.exe").string());
  EXPECT_TRUE(window.IsEnded());
}

TEST_F(Window, EnterAndEscapeNeverReachTheWindow) {
  winapp::CMainWindow window(Dialogs(), MakeServices());
  ASSERT_TRUE(window.Create());
  const HWND start = GetDlgItem(window.Hwnd(), IDC_BUTTON_START);
  const struct {
    const char* name;
    HWND target;
    UINT message;
    WPARAM key;
    bool dropped;
  } rows[] = {
      {"Enter on the window", window.Hwnd(), WM_KEYDOWN, VK_RETURN, true},
      {"Escape on a button", start, WM_KEYDOWN, VK_ESCAPE, true},
      {"Escape as a character", start, WM_CHAR, VK_ESCAPE, true},
      {"Tab moves on", start, WM_KEYDOWN, VK_TAB, false},
      {"Escape elsewhere", GetDesktopWindow(), WM_KEYDOWN, VK_ESCAPE, false},
  };
  for (const auto& row : rows) {
    MSG message{row.target, row.message, row.key, 0, 0, {}};
    EXPECT_EQ(window.PreTranslateMessage(message), row.dropped) << row.name;
  }
  // Escape pumped as a user would press it: no close question.
  PostMessageW(start, WM_KEYDOWN, VK_ESCAPE, 0);
  PumpUntil(window, [] { return false; }, 200);
  EXPECT_TRUE(shown.empty());
  EXPECT_FALSE(window.IsEnded());
}

TEST_F(Window, AFailedStartUpShowsItsMessageAndNeverShowsTheWindow) {
  FaultScript missing;
  missing.status = 404;
  server.Script("/filelist.json", missing);
  winapp::CMainWindow window(Dialogs(), MakeServices());
  EXPECT_FALSE(window.Create());
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0], "Currently you are not able to reach the server. (404)");
  EXPECT_FALSE(IsWindowVisible(window.Hwnd()));
}

// While the list is slow to come, the player sees the program connecting and can cancel: the
// start-up then ends without a message, and the window never appears. The player is a timer on
// the test's thread, run by the wait's own message loop.
bool g_bSawStartupWait = false;
TEST_F(Window, ASlowStartUpShowsItsStateAndCanBeCancelled) {
  FaultScript stalled;
  stalled.stallBeforeHeaders = true;
  stalled.stallMs = 600000;  // longer than any test
  server.Script("/filelist.json", stalled);
  Services services = MakeServices();
  services.httpTimeoutMs = 600000;  // only the player's Cancel ends this wait
  winapp::CMainWindow window(Dialogs(), std::move(services));
  g_bSawStartupWait = false;
  const UINT_PTR timer = SetTimer(nullptr, 0, 20, [](HWND, UINT, UINT_PTR, DWORD) {
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND top, LPARAM) -> BOOL {
          const HWND status = GetDlgItem(top, IDC_STARTUP_STATUS);
          if (!status || !IsWindowVisible(top)) return TRUE;
          g_bSawStartupWait = g_bSawStartupWait || N(winui::WindowText(status)) == "Connecting to the server...";
          if (IsWindowEnabled(GetDlgItem(top, IDCANCEL))) PostMessageW(top, WM_COMMAND, IDCANCEL, 0);
          return FALSE;
        },
        0);
  });
  EXPECT_FALSE(window.Create());
  KillTimer(nullptr, timer);
  EXPECT_TRUE(g_bSawStartupWait);
  EXPECT_TRUE(shown.empty()) << shown.front();
  EXPECT_FALSE(window.Hwnd() && IsWindowVisible(window.Hwnd()));
}

TEST(TextProgressCtrl, MessagesFillAndText) {
  const HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_POPUP | PBS_SMOOTH, 0, 0, 248, 16, nullptr, nullptr,
                                   nullptr, nullptr);
  winui::CTextProgressCtrl control;
  ASSERT_TRUE(control.AttachBar(bar));
  for (const auto& row : kBarMessageCases)
    EXPECT_EQ(SendMessageW(bar, row.message, row.wParam, row.lParam), row.result) << row.name;
  EXPECT_EQ(static_cast<COLORREF>(SendMessageW(bar, skin::TPBM_GETTEXTCOLOR, 0, 0)), GetSysColor(COLOR_WINDOWTEXT))
      << "a query resolves the default colour";

  SendMessageW(bar, PBM_SETRANGE32, 0, 100);
  SendMessageW(bar, PBM_SETBARCOLOR, 0, RGB(0, 0, 255));
  SendMessageW(bar, PBM_SETBKCOLOR, 0, RGB(0, 0, 0));
  SendMessageW(bar, skin::TPBM_SHOWPERCENT, 1, 0);
  SendMessageW(bar, PBM_SETPOS, 45, 0);
  CPicture picture(248, 16);
  SendMessageW(bar, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(picture.Dc()), PRF_CLIENT);
  EXPECT_EQ(picture.At(2 + 108, 3), RGB(0, 0, 255)) << "244 x 0.45 = 109.8: 109 pixels filled";
  EXPECT_EQ(picture.At(2 + 109, 3), RGB(0, 0, 0));
  EXPECT_EQ(picture.At(0, 0), skin::kFrameOuter);
  EXPECT_EQ(N(control.Text()), "45%");
  DestroyWindow(bar);
}

TEST(BitmapButtonEx, KeyColourShowsTheTargetThroughExactlyItsPixels) {
  // A 4 x 1 image: key, almost key, red, key.
  CPicture image(4, 1);
  SetPixel(image.Dc(), 0, 0, RGB(255, 0, 255));
  SetPixel(image.Dc(), 1, 0, RGB(255, 0, 254));
  SetPixel(image.Dc(), 2, 0, RGB(255, 0, 0));
  SetPixel(image.Dc(), 3, 0, RGB(255, 0, 255));
  const HBITMAP bitmap = static_cast<HBITMAP>(GetCurrentObject(image.Dc(), OBJ_BITMAP));
  CPicture target(6, 1);
  target.Fill(RGB(10, 20, 30));
  const HBITMAP copy = static_cast<HBITMAP>(CopyImage(bitmap, IMAGE_BITMAP, 0, 0, 0));
  winui::DrawBitmapTransparent(target.Dc(), copy, 1, 0, RGB(255, 0, 255));
  DeleteObject(copy);
  const COLORREF expected[] = {RGB(10, 20, 30), RGB(10, 20, 30), RGB(255, 0, 254), RGB(255, 0, 0), RGB(10, 20, 30),
                               RGB(10, 20, 30)};
  for (int x = 0; x < 6; ++x) EXPECT_EQ(target.At(x, 0), expected[x]) << "pixel " << x;
}

TEST(BitmapButtonEx, TheImageOfEachState) {
  const HWND button = CreateWindowExW(0, L"BUTTON", L"", WS_POPUP | BS_OWNERDRAW, 0, 0, 10, 10, nullptr, nullptr,
                                      nullptr, nullptr);
  winui::CBitmapButtonEx control;
  ASSERT_TRUE(control.Attach(button));
  control.m_trackEvent = TRACKMOUSEEVENT{sizeof(TRACKMOUSEEVENT), TME_LEAVE, button, HOVER_DEFAULT};
  ASSERT_TRUE(control.LoadBitmaps(147, 150, 149, 148));  // Start: normal, selected, focus, disabled
  control.SizeToContent();
  RECT size;
  GetWindowRect(button, &size);
  EXPECT_EQ(size.right - size.left, 77);
  EXPECT_EQ(size.bottom - size.top, 27);
  control.SetHoverImage(146);  // the Launch button's face, to tell it apart
  // The colour each image has in its middle.
  const auto middleOf = [](UINT id) {
    const HBITMAP image = static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id),
                                                          IMAGE_BITMAP, 0, 0, 0));
    CPicture picture(77, 27);
    winui::DrawBitmapTransparent(picture.Dc(), image, 0, 0, RGB(255, 0, 255));
    DeleteObject(image);
    return picture.At(38, 5);
  };
  const auto drawn = [&](UINT state) {
    CPicture picture(77, 27);
    DRAWITEMSTRUCT item{ODT_BUTTON, 1001, 0, ODA_DRAWENTIRE, state, button, picture.Dc(), {0, 0, 77, 27}, 0};
    control.DrawItem(item);
    return picture.At(38, 5);
  };
  ASSERT_NE(middleOf(147), middleOf(148));
  const struct {
    const char* name;
    UINT state;
    bool hover;
    UINT image;
  } rows[] = {
      {"normal", 0, false, 147},
      {"pressed", ODS_SELECTED, false, 150},
      {"focused", ODS_FOCUS, false, 149},
      {"disabled", ODS_DISABLED, false, 148},
      {"pressed wins over focus", ODS_SELECTED | ODS_FOCUS, false, 150},
      {"hover wins over focus", ODS_FOCUS, true, 146},
      {"a disabled button never looks usable", ODS_DISABLED, true, 148},
  };
  for (const auto& row : rows) {
    SendMessageW(button, row.hover ? WM_MOUSEMOVE : WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(control.IsMouseOver(), row.hover) << row.name;
    EXPECT_EQ(drawn(row.state), middleOf(row.image)) << row.name;
  }
  DestroyWindow(button);
}

// The keyboard's focus shows on every button, also those without a focus image; not after clicks.
TEST(BitmapButtonEx, KeyboardFocusIsVisible) {
  winui::CBitmapButtonEx control;
  ASSERT_TRUE(control.LoadBitmaps(140, 0, 0, 141));  // Change Folder: no focus image
  const auto drawn = [&](UINT state) {
    CPicture picture(67, 23);
    DRAWITEMSTRUCT item{ODT_BUTTON, 1005, 0, ODA_DRAWENTIRE, state, nullptr, picture.Dc(), {0, 0, 67, 23}, 0};
    control.DrawItem(item);
    std::vector<COLORREF> edge;
    for (int x = 0; x < 67; ++x) edge.push_back(picture.At(x, 2));
    return edge;
  };
  EXPECT_NE(drawn(ODS_FOCUS), drawn(0));
  EXPECT_EQ(drawn(ODS_FOCUS | ODS_NOFOCUSRECT), drawn(0));
}

TEST(Taskbar, EachRunStateHasItsProgressState) {
  const struct {
    RunState state;
    TBPFLAG flag;
  } rows[] = {{RunState::Ready, TBPF_NOPROGRESS},
              {RunState::Downloading, TBPF_NORMAL},
              {RunState::Stopped, TBPF_PAUSED},
              {RunState::Failed, TBPF_ERROR},
              {RunState::Complete, TBPF_NOPROGRESS}};
  for (const auto& row : rows) EXPECT_EQ(winapp::TaskbarStateOf(row.state), row.flag) << static_cast<int>(row.state);
}

} // namespace

// The folder picker is the system's new one (resizable, with a new-folder button), opens on the
// current folder, tells its free space against the required size, and OK picks the folder shown.
// The player is a timer on the test's thread, run by the picker's own message loop.
struct PickerPlayer {
  bool sawLine = false, resizable = false, pressed = false;
  int ticks = 0;
};
PickerPlayer* g_pPlayer = nullptr;

TEST(FolderPicker, OpensOnTheFolderAndTellsItsFreeSpace) {
  TempDir folder;
  const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);  // as the program has it
  const winapp::WinDialogs dialogs = winapp::DefaultDialogs([](std::u16string_view) { return 3ULL << 30; });
  PickerPlayer player;
  g_pPlayer = &player;
  const UINT_PTR timer = SetTimer(nullptr, 0, 100, [](HWND, UINT, UINT_PTR, DWORD) {
    PickerPlayer& p = *g_pPlayer;
    if (p.pressed) return;
    HWND line = nullptr;
    EnumThreadWindows(
        GetCurrentThreadId(),
        [](HWND top, LPARAM found) -> BOOL {
          EnumChildWindows(
              top,
              [](HWND child, LPARAM into) -> BOOL {
                if (N(winui::WindowText(child)).find("Free Space: 3.00 GB") == std::string::npos) return TRUE;
                *reinterpret_cast<HWND*>(into) = child;
                return FALSE;
              },
              found);
          return *reinterpret_cast<HWND*>(found) == nullptr;
        },
        reinterpret_cast<LPARAM>(&line));
    const HWND picker = line ? GetAncestor(line, GA_ROOT) : nullptr;
    if (!picker && ++p.ticks < 300) return;
    if (picker) {
      p.sawLine = N(winui::WindowText(line)).find("at least 1.00 MB") != std::string::npos;
      p.resizable = (GetWindowLongPtrW(picker, GWL_STYLE) & WS_THICKFRAME) != 0;
      // "." names the folder the picker shows: OK then picks the folder it opened on.
      SetDlgItemTextW(picker, 1152, L".");
      PostMessageW(GetDlgItem(picker, IDOK), BM_CLICK, 0, 0);
    } else if (const HWND any = GetActiveWindow()) {
      PostMessageW(any, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);  // never found: end the box
    }
    p.pressed = true;
  });
  std::u16string chosen;
  const bool picked = dialogs.browseFolder(nullptr, folder.wide(), u"1.00 MB", chosen);
  KillTimer(nullptr, timer);
  g_pPlayer = nullptr;
  EXPECT_TRUE(player.sawLine);
  EXPECT_TRUE(player.resizable) << "the old browser cannot be resized";
  EXPECT_TRUE(picked);
  EXPECT_TRUE(platform::IsSamePath(chosen, folder.wide())) << N(chosen);
  if (SUCCEEDED(com)) CoUninitialize();
}
