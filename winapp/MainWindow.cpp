#include "winapp/MainWindow.h"

#include "core/StringTable.h"
#include "platform/Utf.h"

#include <algorithm>
#include <memory>
#include <type_traits>
#include <vector>

#include <windows.h>
#include <commctrl.h>

#include "winapp/Resources.h"
#include "winapp/StartupWait.h"
#include "window/WindowTables.h"
#include "winui/Dpi.h"
#include "winui/GdiHandles.h"
#include "winui/WindowText.h"

namespace winapp {

using controller::BoxKind;
using window::RunState;

namespace {

thread_local CMainWindow* t_pModal = nullptr;

// A hook that is removed when its owner lets it go.
struct HookRemover {
  void operator()(HHOOK hook) const { UnhookWindowsHookEx(hook); }
};
using UniqueHook = std::unique_ptr<std::remove_pointer_t<HHOOK>, HookRemover>;

const wchar_t* Wide(const std::u16string& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

bool HasFontFace(const std::u16string& face) {
  LOGFONTW wanted{};
  wanted.lfCharSet = DEFAULT_CHARSET;
  face.copy(reinterpret_cast<char16_t*>(wanted.lfFaceName), LF_FACESIZE - 1);
  bool found = false;
  const winui::CClientDc screen(nullptr);
  EnumFontFamiliesExW(
      screen.Get(), &wanted,
      [](const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM result) -> int {
        *reinterpret_cast<bool*>(result) = true;
        return 0;
      },
      reinterpret_cast<LPARAM>(&found), 0);
  return found;
}

} // namespace

CMainWindow::CMainWindow(WinDialogs dialogs, controller::Services services)
    : m_dialogs(std::move(dialogs)),
      m_services(std::move(services)),
      m_hIcon(static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDR_MAINFRAME), IMAGE_ICON,
                                            0, 0, LR_DEFAULTSIZE | LR_SHARED))),
      m_uTaskbarButtonCreated(RegisterWindowMessageW(L"TaskbarButtonCreated")) {
  m_hTarget = download::RegisterMessageTarget(this);
}

CMainWindow::~CMainWindow() {
  if (m_hWnd) DestroyWindow(m_hWnd);
  OnDestroy();
}

void CMainWindow::DoModal() {
  m_bModal = true;
  t_pModal = this;
  // The dialog's own loop has no place for a filter; a message-filter hook sees every message first.
  {
    const UniqueHook hook(SetWindowsHookExW(WH_MSGFILTER, &MessageFilter, nullptr, GetCurrentThreadId()));
    DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MERVODOWNLOADER_DIALOG), nullptr, &DialogProc,
                    reinterpret_cast<LPARAM>(this));
  }
  t_pModal = nullptr;
}

bool CMainWindow::CreateView() {
  m_bWithController = false;
  return Create();
}

bool CMainWindow::Create() {
  m_bModal = false;
  CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MERVODOWNLOADER_DIALOG), nullptr, &DialogProc,
                     reinterpret_cast<LPARAM>(this));
  // A start-up that failed ended the dialog before it could show: it never appears.
  if (m_bEnded && m_hWnd) ShowWindow(m_hWnd, SW_HIDE);
  return m_hWnd != nullptr && !m_bEnded;
}

LRESULT CALLBACK CMainWindow::MessageFilter(int code, WPARAM wParam, LPARAM lParam) {
  if (code == MSGF_DIALOGBOX && t_pModal && t_pModal->PreTranslateMessage(*reinterpret_cast<const MSG*>(lParam)))
    return TRUE;
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool CMainWindow::PreTranslateMessage(const MSG& message) {
  // The focus rectangle shows once the keyboard moves the focus, as in the system's own dialogs.
  if (message.message == WM_KEYDOWN && !m_bFocusCues && m_hWnd &&
      (message.hwnd == m_hWnd || IsChild(m_hWnd, message.hwnd)) &&
      (message.wParam == VK_TAB || (message.wParam >= VK_LEFT && message.wParam <= VK_DOWN))) {
    m_bFocusCues = true;
    for (auto& entry : m_buttons) entry.second->ShowFocusCues(true);
    if (const HWND focus = GetFocus()) InvalidateRect(focus, nullptr, FALSE);
  }
  const bool key = message.message == WM_KEYDOWN || message.message == WM_KEYUP || message.message == WM_CHAR;
  if (!key || (message.wParam != VK_RETURN && message.wParam != VK_ESCAPE)) return false;
  return m_hWnd && (message.hwnd == m_hWnd || IsChild(m_hWnd, message.hwnd));
}

winui::CBitmapButtonEx* CMainWindow::Button(int id) {
  const auto found = m_buttons.find(id);
  return found == m_buttons.end() ? nullptr : found->second.get();
}
winui::CTransparentStatic* CMainWindow::Label(int id) {
  const auto found = m_labels.find(id);
  return found == m_labels.end() ? nullptr : found->second.get();
}
winui::CTextProgressCtrl* CMainWindow::Bar(int id) {
  const auto found = m_bars.find(id);
  return found == m_bars.end() ? nullptr : found->second.get();
}

INT_PTR CALLBACK CMainWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<CMainWindow*>(lParam);
    SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->m_hWnd = window;
    return self->OnInitDialog();
  }
  auto* self = reinterpret_cast<CMainWindow*>(GetWindowLongPtrW(window, DWLP_USER));
  return self ? self->OnMessage(message, wParam, lParam) : FALSE;
}

BOOL CMainWindow::OnInitDialog() {
  // The About item of the system menu, in the language the system picks for the user.
  if (HMENU menu = GetSystemMenu(m_hWnd, FALSE)) {
    wchar_t about[128] = {};
    if (LoadStringW(GetModuleHandleW(nullptr), core::IDS_ABOUTBOX, about, 128) > 0) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about);
    }
  }
  // The program runs elevated and the shell does not: without this the shell's announcement of the
  // taskbar button is dropped by the system's isolation, and no progress ever shows on the button.
  m_bTaskbarMessageAllowed =
      ChangeWindowMessageFilterEx(m_hWnd, m_uTaskbarButtonCreated, MSGFLT_ALLOW, nullptr) != FALSE;
  // Drawn at the monitor's scale, from the first frame on.
  m_nDpi = winui::WindowDpi(m_hWnd);
  winui::KeepDialogLayoutOnDpiChange(m_hWnd);
  SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
  SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
  BindControls();
  if (m_bWithController) {
    m_pDlg = std::make_unique<controller::CMervoDownloaderDlg>(*this, std::move(m_services));
    m_pDlg->OnInitDialog();  // a failed start-up has ended the dialog
  }
  // The keyboard starts on Start where it can be pressed (the first button in reading order is
  // the window's minimise button).
  const HWND start = GetDlgItem(m_hWnd, window::IDC_BUTTON_START);
  if (IsWindowEnabled(start)) {
    SetFocus(start);
    return FALSE;
  }
  return TRUE;
}

void CMainWindow::BindControls() {
  for (const skin::ControlRow& row : skin::kControls) {
    const HWND control = GetDlgItem(m_hWnd, row.id);
    switch (row.kind) {
      case skin::Kind::Button: {
        auto button = std::make_unique<winui::CBitmapButtonEx>();
        button->Attach(control);
        button->ShowFocusCues(m_bFocusCues);
        m_buttons[row.id] = std::move(button);
        break;
      }
      case skin::Kind::Bar: {
        auto bar = std::make_unique<winui::CTextProgressCtrl>();
        bar->AttachBar(control);
        m_bars[row.id] = std::move(bar);
        break;
      }
      case skin::Kind::Label:
      case skin::Kind::Link:
      case skin::Kind::PathLabel: {
        auto label = std::make_unique<winui::CTransparentStatic>();
        label->Attach(control);
        m_labels[row.id] = std::move(label);
        break;
      }
      case skin::Kind::Background: break;
    }
  }
  // Tab moves between the buttons in reading order (the order of the sibling list), and screen
  // readers say each button's name in the user's language rather than the template's texts.
  for (const skin::ButtonRow& row : skin::kButtons) {
    const HWND button = GetDlgItem(m_hWnd, row.id);
    SetWindowTextW(button, Wide(core::LoadUiString(row.name)));
    SetWindowPos(button, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  }
  Layout();
}

void CMainWindow::Layout() {
  // The design's layout in pixels at the monitor's scale, whatever base units the dialog font gives.
  for (const skin::ControlRow& row : skin::kControls)
    SetWindowPos(GetDlgItem(m_hWnd, row.id), nullptr, Scaled(row.x), Scaled(row.y), Scaled(row.w), Scaled(row.h),
                 SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(m_hWnd, nullptr, 0, 0, Scaled(skin::kWindowWidth), Scaled(skin::kWindowHeight),
               SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  FitFonts();
}

void CMainWindow::UseFontFace(std::u16string face) {
  m_strFontFace = std::move(face);
  FitFonts();
  InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CMainWindow::FitFonts() {
  if (m_strFontFace.empty()) {
    for (const char16_t* face : skin::kFontFaces) {
      if (!HasFontFace(face)) continue;
      m_strFontFace = face;
      break;
    }
  }
  // Where none of the window's faces is installed, the dialog font of the template stays.
  if (m_strFontFace.empty()) return;
  std::map<int, winui::UniqueFont> fonts;
  const auto fontOf = [&](int pixels) {
    winui::UniqueFont& font = fonts[pixels];
    if (!font)
      font.reset(CreateFontW(-pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                             CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, Wide(m_strFontFace)));
    return font.get();
  };
  const winui::CClientDc screen(nullptr);
  for (const skin::ControlRow& row : skin::kControls) {
    int pixels = Scaled(skin::kFontPixelSize);
    if (row.kind == skin::Kind::Label || row.kind == skin::Kind::Link) {
      std::vector<std::u16string> texts{platform::WidenUtf8(row.text)};
      for (const skin::WidestText& widest : skin::kWidestTexts)
        if (widest.id == row.id) texts.emplace_back(widest.text);
      pixels = skin::FittingPixelSize(pixels, Scaled(skin::kSmallestFontPixelSize), Scaled(row.w), [&](int size) {
        const winui::CSelectObject select(screen.Get(), fontOf(size));
        LONG width = 0;
        for (const std::u16string& text : texts) {
          SIZE extent{};
          GetTextExtentPoint32W(screen.Get(), Wide(text), static_cast<int>(text.size()), &extent);
          width = std::max(width, extent.cx);
        }
        return width;
      });
    }
    SendDlgItemMessageW(m_hWnd, row.id, WM_SETFONT, reinterpret_cast<WPARAM>(fontOf(pixels)), FALSE);
  }
  // The fonts in use before are released only now that no control holds them.
  m_fonts.swap(fonts);
}

void CMainWindow::OnDpiChanged(UINT dpi, const RECT& suggested) {
  m_nDpi = dpi;
  Layout();
  InitButtons();
  for (auto& entry : m_labels) entry.second->ForgetBackground();
  if (m_bmpBackground) InitBackground();
  SetWindowPos(m_hWnd, nullptr, suggested.left, suggested.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  RedrawWindow(m_hWnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

void CMainWindow::InitProgressBars() {
  for (const window::BarColours& c : window::kBarColours) {
    const HWND bar = GetDlgItem(m_hWnd, c.id);
    SendMessageW(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 100));
    SendMessageW(bar, PBM_SETBKCOLOR, 0, c.back1);
    SendMessageW(bar, PBM_SETBKCOLOR, 0, c.back2);
    SendMessageW(bar, PBM_SETBARCOLOR, 0, c.bar);
    SendMessageW(bar, skin::TPBM_SETTEXTCOLOR, 0, window::kBarTextColour);
    SendMessageW(bar, skin::TPBM_SETBARTEXTCOLOR, 0, window::kBarTextColour);
    SendMessageW(bar, skin::TPBM_SETTEXTALIGN, 1, 0);
    SendMessageW(bar, skin::TPBM_SHOWPERCENT, 1, 0);
  }
}

void CMainWindow::InitButtons() {
  for (const skin::ButtonRow& row : skin::kButtons) {
    winui::CBitmapButtonEx* button = Button(row.id);
    if (!button || !button->Hwnd()) continue;
    button->m_trackEvent = TRACKMOUSEEVENT{sizeof(TRACKMOUSEEVENT), TME_LEAVE, button->Hwnd(), HOVER_DEFAULT};
    button->SetDpi(m_nDpi);
    button->LoadBitmaps(row.normal, row.selected, row.focus, row.disabled);
    button->SizeToContent();
    button->SetHoverImage(row.hover);
  }
}

void CMainWindow::InitBackground() {
  const HWND picture = GetDlgItem(m_hWnd, window::IDC_STATIC_BACKGROUND);
  m_bmpBackground.reset(winui::LoadScaledBitmap(GetModuleHandleW(nullptr), skin::kBackgroundImage, m_nDpi));
  SendMessageW(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(m_bmpBackground.get()));
  // Exactly the image's size: some picture controls stretch their image to their own size, and the
  // artwork must stay pixel for pixel. On top of the sibling order: it paints first, so the labels'
  // first erase finds it on screen.
  BITMAP image{};
  GetObjectW(m_bmpBackground.get(), sizeof image, &image);
  SetWindowPos(picture, HWND_TOP, 0, 0, image.bmWidth, image.bmHeight, SWP_SHOWWINDOW);
}

void CMainWindow::PrepareWindow() {
  InitProgressBars();
  InitButtons();
  InitBackground();
  SetWindowTextW(m_hWnd, Wide(std::u16string(controller::kWindowTitle)));
  RECT work{}, window{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  GetWindowRect(m_hWnd, &window);
  const int w = window.right - window.left, h = window.bottom - window.top;
  SetWindowPos(m_hWnd, nullptr, work.left + (work.right - work.left - w) / 2, work.top + (work.bottom - work.top - h) / 2,
               0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CMainWindow::SetText(int id, std::u16string_view text) {
  // An unchanged text is not set again, so nothing is painted for it.
  const HWND control = GetDlgItem(m_hWnd, id);
  if (winui::WindowText(control) == text) return;
  SetWindowTextW(control, Wide(std::u16string(text)));
}

void CMainWindow::SetTextColor(int id, window::ColourRef colour) {
  if (winui::CTransparentStatic* label = Label(id)) label->SetTextColor(colour);
}

void CMainWindow::EnableControl(int id, bool enabled) { EnableWindow(GetDlgItem(m_hWnd, id), enabled); }

void CMainWindow::SetBarPosition(int id, int position) {
  SendDlgItemMessageW(m_hWnd, id, PBM_SETPOS, static_cast<WPARAM>(position), 0);
  if (id == window::IDC_PROGRESS_TOTAL) m_taskbar.SetPercent(position);
}

bool CMainWindow::WaitForStartup(std::u16string_view status, const std::function<void()>& work,
                                 const std::function<void()>& cancel) {
  return RunWithStartupWait(status, work, cancel);
}

bool CMainWindow::ShowMessage(std::u16string_view text, BoxKind kind) { return m_dialogs.messageBox(m_hWnd, text, kind); }

bool CMainWindow::BrowseForFolder(std::u16string_view initial, std::u16string_view requiredSize,
                                  std::u16string& chosen) {
  return m_dialogs.browseFolder(m_hWnd, initial, requiredSize, chosen);
}

void CMainWindow::StartTimer(int id, std::uint32_t milliseconds) {
  if (SetTimer(m_hWnd, static_cast<UINT_PTR>(id), milliseconds, nullptr)) m_timers.insert(id);
}

void CMainWindow::StopTimer(int id) {
  KillTimer(m_hWnd, static_cast<UINT_PTR>(id));
  m_timers.erase(id);
}

void CMainWindow::ShowRunState(RunState state) {
  m_taskbar.SetState(state);
  // The machine stays awake while a run goes on (the display may still sleep).
  SetThreadExecutionState(state == RunState::Downloading ? ES_CONTINUOUS | ES_SYSTEM_REQUIRED : ES_CONTINUOUS);
}

void CMainWindow::EndDialog() {
  m_bEnded = true;
  if (m_bModal) ::EndDialog(m_hWnd, IDCANCEL);
  else ShowWindow(m_hWnd, SW_HIDE);
}

void CMainWindow::OnPost(std::uint32_t message, std::unique_ptr<download::MessageRecord> record) {
  // The record travels in the message; it is freed here only when the post fails.
  if (PostMessageW(m_hWnd, message, 0, reinterpret_cast<LPARAM>(record.get()))) record.release();
}

void CMainWindow::OnCommand(int id) {
  using namespace controller;
  using namespace window;
  if (id == IDC_BUTTON_MINIMIZE) {
    ShowWindow(m_hWnd, SW_SHOWMINIMIZED);
    return;
  }
  if (!m_pDlg) return;
  switch (id) {
    case IDC_BUTTON_START: m_pDlg->OnBnClickedStart(); break;
    case IDC_BUTTON_STOP: m_pDlg->OnBnClickedStop(); break;
    case IDC_BUTTON_CHANGE_PATH: m_pDlg->OnBnClickedChangePath(); break;
    case IDC_BUTTON_RUN: m_pDlg->OnBnClickedRun(); break;
    case IDCANCEL:
    case IDC_BUTTON_CLOSE: m_pDlg->OnBnClickedClose(); break;
    case IDC_STATIC_FORUM: m_pDlg->OnStnClickedForum(); break;
    case IDC_STATIC_REGISTER: m_pDlg->OnStnClickedRegister(); break;
    default: break;  // IDOK among them: Enter presses nothing
  }
}

bool CMainWindow::OnSetCursor() {
  // The hand shows over a link only while it is shown.
  POINT pointer;
  GetCursorPos(&pointer);
  for (const int id : {window::IDC_STATIC_FORUM, window::IDC_STATIC_REGISTER}) {
    const HWND link = GetDlgItem(m_hWnd, id);
    RECT r;
    if (IsWindowVisible(link) && GetWindowRect(link, &r) && PtInRect(&r, pointer)) {
      SetCursor(LoadCursorW(nullptr, IDC_HAND));
      return true;
    }
  }
  return false;
}

void CMainWindow::OnPaintIconic() {
  const winui::CPaintDc paint(m_hWnd);
  const HDC dc = paint.Get();
  SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
  RECT client;
  GetClientRect(m_hWnd, &client);
  DrawIcon(dc, (client.right - GetSystemMetrics(SM_CXICON) + 1) / 2,
           (client.bottom - GetSystemMetrics(SM_CYICON) + 1) / 2, m_hIcon);
}

void CMainWindow::OnDestroy() {
  if (m_pDlg) m_pDlg->OnDestroy();  // stops the worker: nothing is posted after this
  if (m_hTarget) download::UnregisterMessageTarget(m_hTarget);
  m_hTarget = 0;
  // Records still queued belong to nobody else: free them.
  MSG message;
  while (m_hWnd && PeekMessageW(&message, m_hWnd, download::WM_DOWNLOAD_PROGRESS, download::WM_DOWNLOAD_RESULT, PM_REMOVE))
    std::unique_ptr<download::MessageRecord>(reinterpret_cast<download::MessageRecord*>(message.lParam)).reset();
}

INT_PTR CMainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == download::WM_DOWNLOAD_PROGRESS || message == download::WM_DOWNLOAD_RESULT) {
    download::DispatchRecord(
        message, std::unique_ptr<download::MessageRecord>(reinterpret_cast<download::MessageRecord*>(lParam)),
        [this](std::unique_ptr<download::DownloadProgress> record) {
          if (m_pDlg) m_pDlg->OnDownloadProgress(std::move(record));
        },
        [this](std::unique_ptr<download::DownloadResult> record) {
          if (m_pDlg) m_pDlg->OnDownloadResult(std::move(record));
        });
    return TRUE;
  }
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) == BN_CLICKED) OnCommand(LOWORD(wParam));
      return TRUE;
    case WM_DRAWITEM: {
      const auto& item = *reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      winui::CBitmapButtonEx* button = Button(static_cast<int>(item.CtlID));
      if (!button) return FALSE;
      button->DrawItem(item);
      return TRUE;
    }
    case WM_CTLCOLORSTATIC: {
      const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
      if (winui::CTransparentStatic* label = Label(id))
        return reinterpret_cast<INT_PTR>(label->OnCtlColor(reinterpret_cast<HDC>(wParam)));
      return FALSE;
    }
    case WM_TIMER:
      if (m_pDlg) m_pDlg->OnTimer(static_cast<int>(wParam));
      return TRUE;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
        ShowAboutBox(m_hWnd);
        return TRUE;
      }
      return FALSE;
    case WM_LBUTTONDOWN:
      // A press on the background or a label moves the window, as a caption would.
      SendMessageW(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, 0);
      return FALSE;
    case WM_SETCURSOR:
      if (!OnSetCursor()) return FALSE;
      SetWindowLongPtrW(m_hWnd, DWLP_MSGRESULT, TRUE);
      return TRUE;
    case WM_PAINT:
      if (!IsIconic(m_hWnd)) return FALSE;
      OnPaintIconic();
      return TRUE;
    case WM_DPICHANGED:
      OnDpiChanged(LOWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return TRUE;
    case WM_QUERYDRAGICON: return reinterpret_cast<INT_PTR>(m_hIcon);
    case WM_DESTROY:
      OnDestroy();
      return FALSE;
    case WM_NCDESTROY: m_hWnd = nullptr; return FALSE;
    case WM_SHOWWINDOW:
      // Where the button already exists (the shell announced it before the window could hear it), the
      // window does not wait for an announcement that does not come again.
      if (wParam) PostMessageW(m_hWnd, m_uTaskbarButtonCreated, 0, 0);
      return FALSE;
    default:
      if (message == m_uTaskbarButtonCreated) {
        m_taskbar.Attach(m_hWnd);
        return TRUE;
      }
      return FALSE;
  }
}

} // namespace winapp
