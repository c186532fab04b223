#pragma once
// The screen density a window is shown at, and the skin's images for it. The window is declared
// aware of each monitor's density, so the system never stretches it: everything is drawn at the
// monitor's scale from artwork rendered at 1x, 1.5x and 2x.
#include <windows.h>

namespace winui {

constexpr UINT kBaseDpi = 96;

// The density of the monitor the window is on (the system's where the system cannot say per window).
UINT WindowDpi(HWND window);
// A length of the design's 96-dpi layout at `dpi`.
inline int Scaled(int length, UINT dpi) { return MulDiv(length, static_cast<int>(dpi), static_cast<int>(kBaseDpi)); }

// The dialog's own layout is the program's: the system neither moves nor re-fonts its controls
// when the window changes monitor (where the system offers to, Windows 10 1703 and later).
void KeepDialogLayoutOnDpiChange(HWND dialog);

// Bitmap `id` of the program's resources for `dpi`: the rendering for the nearest scale at or above
// it, brought to the exact size where the scale lies between two renderings. Null when missing.
HBITMAP LoadScaledBitmap(HINSTANCE resources, UINT id, UINT dpi);

} // namespace winui
