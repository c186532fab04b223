#pragma once
// Ownership of GDI objects and memory contexts, and the select-and-restore every drawing step needs.
#include <memory>
#include <type_traits>

#include <windows.h>

namespace winui {

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
struct MemoryDcDeleter {
  void operator()(HDC dc) const { DeleteDC(dc); }
};

using UniqueBitmap = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;
using UniqueFont = std::unique_ptr<std::remove_pointer_t<HFONT>, GdiObjectDeleter>;
using UniqueRegion = std::unique_ptr<std::remove_pointer_t<HRGN>, GdiObjectDeleter>;
using UniqueMemoryDc = std::unique_ptr<std::remove_pointer_t<HDC>, MemoryDcDeleter>;

// Selects an object into a context for the guard's life, then puts back what the context held.
class CSelectObject {
 public:
  CSelectObject(HDC dc, HGDIOBJ object) : m_dc(dc), m_old(object ? SelectObject(dc, object) : nullptr) {}
  ~CSelectObject() {
    if (m_old) SelectObject(m_dc, m_old);
  }
  CSelectObject(const CSelectObject&) = delete;
  CSelectObject& operator=(const CSelectObject&) = delete;

 private:
  HDC m_dc;
  HGDIOBJ m_old;
};

// A window's client context for the guard's life.
class CClientDc {
 public:
  explicit CClientDc(HWND window) : m_window(window), m_dc(GetDC(window)) {}
  ~CClientDc() {
    if (m_dc) ReleaseDC(m_window, m_dc);
  }
  CClientDc(const CClientDc&) = delete;
  CClientDc& operator=(const CClientDc&) = delete;
  HDC Get() const { return m_dc; }

 private:
  HWND m_window;
  HDC m_dc;
};

// A window's paint context, from BeginPaint to EndPaint, for the guard's life.
class CPaintDc {
 public:
  explicit CPaintDc(HWND window) : m_window(window), m_dc(BeginPaint(window, &m_ps)) {}
  ~CPaintDc() { EndPaint(m_window, &m_ps); }
  CPaintDc(const CPaintDc&) = delete;
  CPaintDc& operator=(const CPaintDc&) = delete;
  HDC Get() const { return m_dc; }

 private:
  HWND m_window;
  PAINTSTRUCT m_ps{};
  HDC m_dc;
};

// Fills a rectangle with a solid colour, as the framework's FillSolidRect does.
inline void FillSolidRect(HDC dc, const RECT& rect, COLORREF colour) {
  const COLORREF old = SetBkColor(dc, colour);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &rect, nullptr, 0, nullptr);
  SetBkColor(dc, old);
}

} // namespace winui
