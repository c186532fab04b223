#include "winui/TextProgressCtrl.h"

#include "winui/MemoryDC.h"
#include "winui/WindowText.h"

namespace winui {

namespace {

RECT ToRect(const skin::Rect& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

} // namespace

bool CTextProgressCtrl::AttachBar(HWND bar) {
  if (!Attach(bar)) return false;
  m_state.ModifyStyle(~0u, static_cast<std::uint32_t>(GetWindowLongPtrW(bar, GWL_STYLE)) & skin::kBarStyleBits);
  return true;
}

skin::SystemColours CTextProgressCtrl::System() const {
  return {GetSysColor(COLOR_HIGHLIGHT), GetSysColor(COLOR_BTNFACE), GetSysColor(COLOR_WINDOWTEXT),
          GetSysColor(COLOR_WINDOW)};
}

std::u16string CTextProgressCtrl::Text() const { return m_state.Text(WindowText(Hwnd())); }

LRESULT CTextProgressCtrl::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (skin::CProgressBarState::Answers(message)) {
    skin::MessageEffect effect;
    const LRESULT result = m_state.Handle(message, wParam, lParam, System(), effect);
    if (effect.marqueeChanged) {
      if (m_state.MarqueeIntervalMs() > 0) SetTimer(Hwnd(), skin::MARQUEE_TIMER_ID, m_state.MarqueeIntervalMs(), nullptr);
      else KillTimer(Hwnd(), skin::MARQUEE_TIMER_ID);
    }
    // Coalesced: the system paints once the queue is empty, however many positions came before.
    if (effect.repaint) InvalidateRect(Hwnd(), nullptr, FALSE);
    return result;
  }
  switch (message) {
    case WM_ERASEBKGND: return TRUE;
    case WM_PAINT: {
      // An empty or inverted range paints nothing; the request is still completed.
      const CPaintDc paint(Hwnd());
      if (paint.Get() && m_state.HasRange()) Paint(paint.Get());
      return 0;
    }
    case WM_PRINTCLIENT:
      if (m_state.HasRange()) Paint(reinterpret_cast<HDC>(wParam));
      return 0;
    case WM_SETTEXT: {
      const LRESULT result = Default(message, wParam, lParam);
      RedrawWindow(Hwnd(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
      return result;
    }
    case WM_LBUTTONDOWN: return 0;  // a press on the bar stays with the bar
    default: return Default(message, wParam, lParam);
  }
}

void CTextProgressCtrl::Paint(HDC target) {
  CMemoryDC memory(target);
  const HDC dc = memory.Get();
  const skin::SystemColours system = System();
  RECT client;
  GetClientRect(Hwnd(), &client);
  // A flat frame, 2 pixels on every side.
  FillSolidRect(dc, client, skin::kFrameOuter);
  FillSolidRect(dc, RECT{client.left + 1, client.top + 1, client.right - 1, client.bottom - 1}, skin::kFrameInner);
  const skin::Rect rc{client.left + 2, client.top + 2, client.right - 2, client.bottom - 2};
  if (rc.Width() <= 0 || rc.Height() <= 0) return;

  const skin::BarGeometry g = m_state.Geometry(rc);
  if (g.drawBefore) FillSolidRect(dc, ToRect(g.before), m_state.BackColour(system));
  FillSolidRect(dc, ToRect(g.bar), m_state.BarColour(system));
  if (g.drawAfter) FillSolidRect(dc, ToRect(g.after), m_state.BackColour(system));

  const std::u16string text = Text();
  if (text.empty()) return;
  const auto font = reinterpret_cast<HFONT>(SendMessageW(Hwnd(), WM_GETFONT, 0, 0));
  const bool vertical = m_state.IsVertical();
  if (vertical && !m_fontVertical) {
    LOGFONTW face{};
    GetObjectW(font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT), sizeof face, &face);
    face.lfEscapement = face.lfOrientation = 900;
    m_fontVertical.reset(CreateFontIndirectW(&face));
  }
  const CSelectObject selectFont(dc, vertical ? static_cast<HGDIOBJ>(m_fontVertical.get()) : font);
  const auto* chars = reinterpret_cast<const wchar_t*>(text.c_str());
  const int length = static_cast<int>(text.size());
  SIZE extent{};
  GetTextExtentPoint32W(dc, chars, length, &extent);
  int x = 0, y = 0;
  m_state.TextOrigin(rc, extent.cx, extent.cy, x, y);
  SetBkMode(dc, TRANSPARENT);
  const auto draw = [&](const skin::Rect& clip, COLORREF colour) {
    const RECT r = ToRect(clip);
    SetTextColor(dc, colour);
    ExtTextOutW(dc, x, y, ETO_CLIPPED, &r, chars, static_cast<UINT>(length), nullptr);
  };
  if (g.drawBefore) draw(g.before, m_state.TextColour(system));
  draw(g.bar, m_state.TextOnBarColour(system));
  if (g.drawAfter) draw(g.after, m_state.TextColour(system));
}

} // namespace winui
