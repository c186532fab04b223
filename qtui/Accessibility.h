#pragma once
// What screen readers learn of the skinned window's own controls: the labels are static texts (links
// are links) named by the text they show, the bars are progress bars named by their text ("45%").
// The buttons are Qt's own buttons to them already, named by the window.

namespace qtui {

// Registers the window's controls with Qt's accessibility; once is enough, more is harmless.
void InstallAccessibility();

} // namespace qtui
