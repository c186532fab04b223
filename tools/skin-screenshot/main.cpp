// Writes a PNG of the downloader window as a user sees it after start-up, with sample texts.
// Usage: valdris-screenshot OUT.png
#include <QApplication>
#include <QImage>
#include <iostream>

#include "SkinnedWindow.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: valdris-screenshot OUT.png\n";
    return 2;
  }
  QApplication application(argc, argv);
  ui::CSkinnedWindow window;
  window.InitProgressBars();
  window.InitButtons();
  window.InitBackground();
  const struct {
    int id;
    const char* text;
    ui::COLORREF colour;
  } labels[] = {
      {ui::IDC_STATIC_FILE_NAME, "Data/pack1.pak", 0},      {ui::IDC_STATIC_FILE_SIZE, "24.00 MB", 0},
      {ui::IDC_STATIC_FILE_SIZE2, "24.00 MB", 0},           {ui::IDC_STATIC_TOTAL_SIZE, "266.88 MB", 0},
      {ui::IDC_STATIC_REQUIRED, "266.88 MB", 0},            {ui::IDC_STATIC_AVAILABLE, "235.24 GB", 0},
      {ui::IDC_STATIC_FOLDER, "/home/player/DOWNLOAD/VALDRIS", 0},
      {ui::IDC_CAPTION_STATUS, "Transfer Status", ui::RGB(255, 255, 0)},
      {ui::IDC_CAPTION_FILE_NAME, "File Name :", ui::RGB(255, 255, 255)},
      {ui::IDC_CAPTION_FILE_SIZE, "File Size :", ui::RGB(255, 255, 255)},
      {ui::IDC_CAPTION_ELAPSED, "Time Elapsed :", ui::RGB(255, 255, 255)},
      {ui::IDC_CAPTION_SPEED, "Download Speed :", ui::RGB(255, 255, 255)},
      {ui::IDC_CAPTION_TIME_LEFT, "Time Left :", ui::RGB(255, 255, 255)},
      {ui::IDC_CAPTION_DOWNLOADED, "Downloaded", ui::RGB(255, 255, 255)},
      {ui::IDC_CAPTION_TOTAL, "Total", ui::RGB(255, 255, 255)},
      {ui::IDC_CAPTION_FOLDER, "Download Folder", ui::RGB(255, 255, 0)},
      {ui::IDC_CAPTION_REQUIRED, "Required Storage", ui::RGB(255, 255, 255)},
      {ui::IDC_CAPTION_AVAILABLE, "Available Storage", ui::RGB(255, 255, 255)},
  };
  for (const auto& label : labels) {
    window.Label(label.id)->SetWindowText(QString::fromUtf8(label.text));
    if (label.colour != 0) window.Label(label.id)->SetTextColor(label.colour);
  }
  window.Control(ui::IDC_BUTTON_STOP)->setEnabled(false);
  window.Control(ui::IDC_BUTTON_RUN)->setEnabled(false);
  window.show();
  QApplication::processEvents();
  const QImage image = window.grab().toImage();
  if (!image.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::cerr << "cannot write " << argv[1] << "\n";
    return 1;
  }
  return 0;
}
