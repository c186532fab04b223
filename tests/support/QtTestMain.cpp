// The entry of the GUI test programs: one application object for every test, real widgets painted
// offscreen.
#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Mervo_Downloader"));
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
