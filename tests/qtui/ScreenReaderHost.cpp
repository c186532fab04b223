// Shows the skinned window on a real display until it is closed, for a screen reader's view of it
// from another process (tests/qtui/screen-reader.py). It prints, in reading order, the name it gave
// each button, so the reader can compare what it hears with what the window meant to say.
#include <QApplication>
#include <QTimer>
#include <iostream>

#include "core/StringTable.h"
#include "qtui/SkinnedWindow.h"
#include "skin/WindowLayout.h"
#include "window/WindowTables.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  qtui::CSkinnedWindow window;
  window.InitProgressBars();
  window.InitButtons();
  window.InitBackground();
  window.Label(window::IDC_STATIC_FILE_NAME)->SetWindowText(QStringLiteral("Data/pack1.pak"));
  for (const window::Caption& caption : window::kCaptions)
    window.Label(caption.id)->SetWindowText(QString::fromUtf16(caption.text));
  window.Bar(window::IDC_PROGRESS_FILE)->SendMessage(skin::kBarSetPos, 45);
  window.show();
  window.activateWindow();
  QTimer::singleShot(0, [] {
    for (const skin::ButtonRow& row : skin::kButtons)
      std::cout << "button " << QString::fromStdU16String(core::LoadUiString(row.name)).toStdString() << "\n";
    std::cout << "ready" << std::endl;
  });
  return application.exec();
}
