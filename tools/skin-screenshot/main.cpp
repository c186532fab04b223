// Writes a PNG of the downloader window as a user sees it after start-up, with sample texts; a label
// may be given a text of its own by its control id (1009=Data/pack1.pak).
// With --text-mask it writes instead where texts are drawn (labels and bars white, the rest black),
// so two windows' pictures can be compared exactly outside them.
// Usage: valdris-screenshot OUT.png [ID=TEXT...] | valdris-screenshot --text-mask OUT.png
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <iostream>
#include <string>

#include "qtui/SkinnedWindow.h"
#include "skin/WindowLayout.h"
#include "window/WindowTables.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::cerr << "usage: valdris-screenshot OUT.png [ID=TEXT...]\n";
    return 2;
  }
  QApplication application(argc, argv);
  if (std::string(argv[1]) == "--text-mask" && argc == 3) {
    QImage mask(skin::kWindowWidth, skin::kWindowHeight, QImage::Format_RGB32);
    mask.fill(Qt::black);
    QPainter painter(&mask);
    for (const skin::ControlRow& row : skin::kControls)
      if (row.kind != skin::Kind::Button && row.kind != skin::Kind::Background)
        painter.fillRect(row.x, row.y, row.w, row.h, Qt::white);
    painter.end();
    return mask.save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
  }
  qtui::CSkinnedWindow window;
  window.InitProgressBars();
  window.InitButtons();
  window.InitBackground();
  // Sample values of a list, then the window's own captions in their colours.
  const struct {
    int id;
    const char* text;
  } samples[] = {
      {window::IDC_STATIC_FILE_NAME, "Data/pack1.pak"}, {window::IDC_STATIC_FILE_SIZE, "24.00 MB"},
      {window::IDC_STATIC_FILE_SIZE2, "24.00 MB"},      {window::IDC_STATIC_TOTAL_SIZE, "266.88 MB"},
      {window::IDC_STATIC_REQUIRED, "266.88 MB"},       {window::IDC_STATIC_AVAILABLE, "235.24 GB"},
      {window::IDC_STATIC_FOLDER, "/home/player/DOWNLOAD/VALDRIS"},
  };
  for (const auto& sample : samples) window.Label(sample.id)->SetWindowText(QString::fromUtf8(sample.text));
  for (const window::Caption& caption : window::kCaptions) {
    window.Label(caption.id)->SetWindowText(QString::fromUtf16(caption.text));
    window.Label(caption.id)->SetTextColor(caption.colour);
  }
  for (int i = 2; i < argc; ++i) {
    const QString assignment = QString::fromLocal8Bit(argv[i]);
    const auto equals = assignment.indexOf(QLatin1Char('='));
    qtui::CTransparentStatic* label = equals > 0 ? window.Label(assignment.left(equals).toInt()) : nullptr;
    if (!label) {
      std::cerr << "no label for " << argv[i] << "\n";
      return 2;
    }
    label->SetWindowText(assignment.mid(equals + 1));
  }
  const window::ButtonStates& ready = window::ButtonsOf(window::RunState::Ready);
  window.Control(window::IDC_BUTTON_START)->setEnabled(ready.start);
  window.Control(window::IDC_BUTTON_STOP)->setEnabled(ready.stop);
  window.Control(window::IDC_BUTTON_CHANGE_PATH)->setEnabled(ready.changePath);
  window.Control(window::IDC_BUTTON_RUN)->setEnabled(ready.run);
  window.show();
  QApplication::processEvents();
  const QImage image = window.grab().toImage();
  if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::cerr << "cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
