#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QEnterEvent>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "core/StringTable.h"
#include "support/ProgressBarCases.h"

#include "qtui/MemoryDC.h"
#include "qtui/SkinImages.h"
#include "qtui/SkinnedWindow.h"
#include "skin/WindowLayout.h"

namespace {

using namespace qtui;

QImage Solid(int w, int h, QColor colour) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}


TEST(TextProgressCtrl, MessageResults) {
  CTextProgressCtrl bar(nullptr, 1007);
  for (const auto& row : testsupport::kBarMessageCases)
    EXPECT_EQ(bar.SendMessage(row.message, row.wParam, row.lParam), row.result) << row.name;
  BarRange range{};
  bar.SendMessage(kBarGetRange, 0, reinterpret_cast<std::intptr_t>(&range));
  EXPECT_EQ(range.iLow, 0);
  EXPECT_EQ(range.iHigh, 100);
  // Queries resolve the default colour to the palette's.
  EXPECT_EQ(static_cast<ColourRef>(bar.SendMessage(kBarGetBarColour)), FromQColor(bar.palette().color(QPalette::Highlight)));
  EXPECT_EQ(static_cast<ColourRef>(bar.SendMessage(TPBM_GETTEXTCOLOR)), FromQColor(bar.palette().color(QPalette::WindowText)));
}

TEST(TextProgressCtrl, MarqueeLimitsAndPercentText) {
  CTextProgressCtrl bar(nullptr, 1007);
  bar.SendMessage(kBarSetRange32, 0, 3);
  bar.SendMessage(kBarSetPos, 2);
  EXPECT_EQ(bar.BarText(), QStringLiteral("67%"));
  bar.SendMessage(kBarSetRange32, 0, 100);
  bar.SendMessage(kBarSetMarquee, 1, 0);
  EXPECT_EQ(bar.MarqueeInterval(), kShortestTimerMs) << "never a busy timer";
  bar.SendMessage(kBarSetMarquee, 1, 30);
  EXPECT_EQ(bar.MarqueeInterval(), 30);
  EXPECT_TRUE(bar.Style() & kBarMarquee);
  bar.SendMessage(kBarSetPos, 150);
  EXPECT_EQ(bar.SendMessage(kBarGetPos), 120) << "the segment may leave the far end";
  EXPECT_EQ(bar.BarText(), QString()) << "no percentage in marquee mode, and no window text";
  // At the far end the shared direction turns.
  CProgressBarState::s_nMarqueeDirection = 1;
  bar.SendMessage(kTimerMessage, MARQUEE_TIMER_ID);
  EXPECT_EQ(CProgressBarState::s_nMarqueeDirection, -1);
  EXPECT_EQ(bar.SendMessage(kBarGetPos), 119);
  bar.SendMessage(kBarSetMarquee, 0, 0);
  EXPECT_FALSE(bar.Style() & kBarMarquee);
  EXPECT_EQ(bar.BarText(), QString()) << "the percentage stays off until asked for again";
  bar.SendMessage(TPBM_SHOWPERCENT, 1);
  bar.SendMessage(kBarSetPos, 40);
  EXPECT_EQ(bar.BarText(), QStringLiteral("40%"));
}

TEST(TextProgressCtrl, FillAndTwoColouredText) {
  CTextProgressCtrl bar(nullptr, 1007);
  bar.resize(248, 16);  // inner width 244
  bar.SendMessage(kBarSetBarColour, 0, Rgb(0, 0, 255));
  bar.SendMessage(kBarSetBkColour, 0, Rgb(0, 0, 0));
  bar.SendMessage(TPBM_SETTEXTCOLOR, 0, Rgb(255, 0, 0));
  bar.SendMessage(TPBM_SETBARTEXTCOLOR, 0, Rgb(0, 255, 0));
  bar.SendMessage(kBarSetPos, 45);
  const QImage image = bar.grab().toImage();
  EXPECT_EQ(image.pixelColor(2 + 108, 3), QColor(0, 0, 255)) << "244 x 0.45 = 109.8: 109 pixels filled";
  EXPECT_EQ(image.pixelColor(2 + 109, 3), QColor(0, 0, 0));
  EXPECT_NE(image.pixelColor(0, 0), QColor(0, 0, 255)) << "a 2-pixel frame";
  bar.SendMessage(kBarSetPos, 50);  // the fill's edge (122 pixels) now runs through the centred text
  const QImage split = bar.grab().toImage();
  int greenInFill = 0, redInFill = 0, greenOutside = 0, redOutside = 0;
  for (int y = 2; y < 14; ++y)
    for (int x = 2; x < 246; ++x) {
      const QColor c = split.pixelColor(x, y);
      const bool green = c.green() > 200 && c.red() < 60, red = c.red() > 200 && c.green() < 60;
      (x < 2 + 122 ? greenInFill : greenOutside) += green;
      (x < 2 + 122 ? redInFill : redOutside) += red;
    }
  EXPECT_GT(greenInFill, 0);
  EXPECT_GT(redOutside, 0);
  EXPECT_EQ(redInFill, 0) << "over the fill the text has the bar's text colour only";
  EXPECT_EQ(greenOutside, 0);
}

TEST(TextProgressCtrl, VerticalFillsFromTheBottom) {
  CTextProgressCtrl bar(nullptr, 1007, kBarSmooth | kBarVertical);
  bar.resize(16, 104);  // inner height 100
  bar.SendMessage(kBarSetBarColour, 0, Rgb(0, 0, 255));
  bar.SendMessage(kBarSetBkColour, 0, Rgb(0, 0, 0));
  bar.SendMessage(TPBM_SHOWPERCENT, 0);
  bar.SendMessage(kBarSetPos, 30);
  const QImage image = bar.grab().toImage();
  EXPECT_EQ(image.pixelColor(3, 2 + 70), QColor(0, 0, 255)) << "the lowest 30 rows are filled";
  EXPECT_EQ(image.pixelColor(3, 2 + 69), QColor(0, 0, 0));
}

TEST(BitmapButtonEx, ImageChoiceByState) {
  QWidget parent;
  CBitmapButtonEx button(&parent, 1001);
  const QImage normal = Solid(10, 10, Qt::red), selected = Solid(10, 10, Qt::green), focus = Solid(10, 10, Qt::blue),
               disabled = Solid(10, 10, Qt::gray), hover = Solid(10, 10, Qt::yellow);
  button.SetImages(normal, selected, focus, disabled);
  button.SetHoverImage(hover);
  button.SizeToContent();
  EXPECT_EQ(button.size(), QSize(10, 10));
  parent.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&parent));
  QEvent away(QEvent::Leave);  // wherever the pointer was when the window appeared
  QApplication::sendEvent(&button, &away);
  button.clearFocus();
  EXPECT_EQ(button.ChosenImage(), normal);
  button.setFocus();
  EXPECT_EQ(button.ChosenImage(), focus);
  button.setDown(true);
  EXPECT_EQ(button.ChosenImage(), selected) << "selected wins over focus";
  button.setDown(false);
  button.clearFocus();
  button.setEnabled(false);
  EXPECT_EQ(button.ChosenImage(), disabled);
  button.SetImages(normal, QImage(), QImage(), QImage());
  EXPECT_EQ(button.ChosenImage(), normal) << "a missing state image falls back to the normal one";

  button.setEnabled(true);
  QApplication::processEvents();
  const int before = button.PaintCount();
  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QApplication::sendEvent(&button, &enter);
  QApplication::sendEvent(&button, &enter);  // moving inside changes nothing
  QApplication::processEvents();
  EXPECT_EQ(button.ChosenImage(), hover) << "hover wins over every state";
  EXPECT_EQ(button.PaintCount(), before + 1);
  QEvent leave(QEvent::Leave);
  QApplication::sendEvent(&button, &leave);
  QApplication::processEvents();
  EXPECT_EQ(button.PaintCount(), before + 2);
  EXPECT_EQ(button.ChosenImage(), normal);

  button.SetImages(normal, selected, focus, disabled);
  button.setEnabled(false);
  QApplication::sendEvent(&button, &enter);  // Qt delivers this to a disabled button as well
  EXPECT_EQ(button.ChosenImage(), disabled) << "an unusable button never looks usable";
  QApplication::sendEvent(&button, &leave);
}

TEST(BitmapButtonEx, KeyColourIsLeftTransparentExactly) {
  QWidget parent;
  parent.resize(20, 20);
  parent.setAutoFillBackground(true);
  QPalette palette = parent.palette();
  palette.setColor(QPalette::Window, QColor(10, 20, 30));
  parent.setPalette(palette);
  CBitmapButtonEx button(&parent, 1005);
  QImage image = Solid(8, 8, QColor(200, 100, 50));
  for (int i = 0; i < 8; ++i) {
    image.setPixelColor(i, 0, QColor(255, 0, 255));  // a key-coloured frame line
    image.setPixelColor(i, 7, QColor(255, 0, 254));  // one off the key: drawn
  }
  button.SetImages(image, QImage(), QImage(), QImage());
  button.SizeToContent();
  button.move(4, 4);
  const QImage shot = parent.grab().toImage();
  EXPECT_EQ(shot.pixelColor(6, 4), QColor(10, 20, 30)) << "the window shows through the key colour";
  EXPECT_EQ(shot.pixelColor(6, 11), QColor(255, 0, 254));
  EXPECT_EQ(shot.pixelColor(6, 6), QColor(200, 100, 50));
}

TEST(MemoryDC, CopiesOnlyItsAreaBackOnce) {
  QImage target = Solid(40, 40, Qt::white);
  {
    QPainter painter(&target);
    CMemoryDC dc(painter, QRect(10, 10, 20, 20), Qt::black);
    dc.painter().fillRect(QRect(0, 0, 40, 40), Qt::red);  // beyond the area: clipped by the buffer
    EXPECT_EQ(target.pixelColor(15, 15), QColor(Qt::white)) << "nothing reaches the target before the end";
  }
  EXPECT_EQ(target.pixelColor(15, 15), QColor(Qt::red));
  EXPECT_EQ(target.pixelColor(5, 5), QColor(Qt::white));
  EXPECT_EQ(target.pixelColor(30, 30), QColor(Qt::white));
}

class Window : public ::testing::Test {
 protected:
  CSkinnedWindow window;
  void SetUp() override {
    window.InitProgressBars();
    window.InitButtons();
    window.InitBackground();
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  }
};

TEST_F(Window, EveryControlAtItsRectangle) {
  EXPECT_EQ(window.size(), QSize(639, 380));
  EXPECT_TRUE(window.windowFlags() & Qt::FramelessWindowHint);
  const struct {
    int id;
    QRect rect;
  } rows[] = {
      {IDC_BUTTON_CHANGE_PATH, {548, 257, 67, 23}}, {IDC_BUTTON_START, {285, 320, 77, 27}},
      {IDC_BUTTON_STOP, {369, 320, 77, 27}},        {IDC_BUTTON_RUN, {453, 320, 77, 27}},
      {IDC_BUTTON_CANCEL, {537, 320, 77, 27}},               {IDC_BUTTON_MINIMIZE, {588, 9, 14, 14}},
      {IDC_BUTTON_CLOSE, {613, 9, 14, 14}},         {IDC_PROGRESS_FILE, {368, 128, 248, 16}},
      {IDC_PROGRESS_TOTAL, {369, 170, 249, 16}},    {IDC_STATIC_BACKGROUND, {0, 0, 640, 380}},
      {IDC_STATIC_FILE_NAME, {357, 56, 193, 14}},   {IDC_STATIC_FOLDER, {291, 261, 232, 14}},
      {IDC_STATIC_REQUIRED, {390, 289, 58, 17}},    {IDC_CAPTION_STATUS, {278, 26, 179, 14}},
      {IDC_STATIC_FORUM, {12, 348, 83, 14}},        {IDC_STATIC_AVAILABLE, {550, 289, 75, 17}},
  };
  for (const auto& row : rows) EXPECT_EQ(window.Control(row.id)->geometry(), row.rect) << row.id;
  EXPECT_FALSE(window.Control(IDC_STATIC_FORUM)->isVisible());
  EXPECT_FALSE(window.Control(IDC_STATIC_REGISTER)->isVisible());
}

TEST_F(Window, ArtworkIsRenderedAgainOnAScreenOfAnotherDensity) {
  window.RenderSkin(2.0);  // as it was on a high-density screen
  EXPECT_EQ(window.BackgroundRatio(), 2.0);
  QEvent moved(QEvent::ScreenChangeInternal);
  QApplication::sendEvent(&window, &moved);
  EXPECT_EQ(window.SkinRatio(), window.devicePixelRatioF());
  EXPECT_EQ(window.BackgroundRatio(), window.devicePixelRatioF());
  EXPECT_EQ(window.Button(IDC_BUTTON_START)->ChosenImage().devicePixelRatio(), window.devicePixelRatioF());
}

// The widest text of every value label, and every caption, fits its rectangle in the label's font.
TEST_F(Window, EveryTextFitsItsLabel) {
  for (const skin::WidestText& widest : skin::kWidestTexts) {
    const QWidget* label = window.Control(widest.id);
    const QString text = QString::fromStdU16String(widest.text);
    EXPECT_LE(label->fontMetrics().horizontalAdvance(text), label->width())
        << text.toStdString() << " in control " << widest.id;
  }
  for (const skin::ControlRow& row : skin::kControls) {
    if (row.kind != skin::Kind::Label && row.kind != skin::Kind::Link) continue;
    const QWidget* label = window.Control(row.id);
    EXPECT_LE(label->fontMetrics().horizontalAdvance(QString::fromUtf8(row.text)), label->width()) << row.text;
    EXPECT_GE(label->font().pixelSize(), skin::kSmallestFontPixelSize) << row.text;
  }
}

// What screen readers and the keyboard find: each button by its name in the user's language, each
// label by its text as static text (links as links), the bars as progress bars; Tab goes through
// the buttons in reading order; the keyboard's focus shows.
TEST_F(Window, ScreenReadersAndTheKeyboardFindEveryControl) {
  for (const skin::ButtonRow& row : skin::kButtons) {
    QAccessibleInterface* button = QAccessible::queryAccessibleInterface(window.Button(row.id));
    ASSERT_NE(button, nullptr) << row.id;
    EXPECT_EQ(button->role(), QAccessible::Button) << row.id;
    EXPECT_EQ(button->text(QAccessible::Name), QString::fromStdU16String(core::LoadUiString(row.name))) << row.id;
  }
  window.Label(IDC_STATIC_FILE_NAME)->SetWindowText(QStringLiteral("Data/pack1.pak"));
  for (const skin::ControlRow& row : skin::kControls) {
    QAccessibleInterface* control = QAccessible::queryAccessibleInterface(window.Control(row.id));
    if (row.kind == skin::Kind::Label || row.kind == skin::Kind::Link) {
      EXPECT_EQ(control->role(), row.kind == skin::Kind::Link ? QAccessible::Link : QAccessible::StaticText) << row.text;
      EXPECT_EQ(control->text(QAccessible::Name), window.Label(row.id)->GetWindowText()) << row.text;
    } else if (row.kind == skin::Kind::Bar) {
      EXPECT_EQ(control->role(), QAccessible::ProgressBar) << row.id;
      EXPECT_EQ(control->text(QAccessible::Name), window.Bar(row.id)->BarText()) << row.id;
    }
  }
  std::vector<int> tabOrder, reading;
  for (const skin::ButtonRow& row : skin::kButtons) reading.push_back(row.id);
  QWidget* at = window.Button(reading.front());
  do {
    if (auto* button = qobject_cast<CBitmapButtonEx*>(at)) tabOrder.push_back(button->Id());
    at = at->nextInFocusChain();
  } while (at != window.Button(reading.front()) && tabOrder.size() < 20);
  EXPECT_EQ(tabOrder, reading);
  CBitmapButtonEx* browse = window.Button(IDC_BUTTON_CHANGE_PATH);  // no focus image of its own
  browse->clearFocus();
  const QImage without = browse->grab().toImage();
  browse->setFocus(Qt::TabFocusReason);
  QApplication::processEvents();
  ASSERT_TRUE(browse->hasFocus());
  EXPECT_NE(browse->grab().toImage(), without);
}

TEST_F(Window, LabelShowsExactlyTheBackgroundBeneath) {
  const QImage background = LoadSkinImage(131);
  CTransparentStatic* label = window.Label(IDC_STATIC_FILE_NAME);
  for (int i = 0; i < 50; ++i) label->SetWindowText(QStringLiteral("Data/file%1.pak").arg(i));
  label->SetWindowText(QStringLiteral("x"));
  QApplication::processEvents();
  const QImage shot = window.grab().toImage();
  // Right of the short text, where longer texts were drawn before: only the picture remains.
  for (int x = 357 + 30; x < 357 + 190; x += 7)
    for (int y = 57; y < 69; y += 3) ASSERT_EQ(shot.pixel(x, y), background.pixel(x, y)) << x << "," << y;
}

TEST_F(Window, KeysDragsTabOrderAndClose) {
  QSignalSpy closes(&window, &CSkinnedWindow::closeRequested);
  QSignalSpy starts(window.Button(IDC_BUTTON_START), &QAbstractButton::clicked);
  window.Button(IDC_BUTTON_START)->setFocus();
  QTest::keyClick(window.Button(IDC_BUTTON_START), Qt::Key_Return);
  QTest::keyClick(window.Button(IDC_BUTTON_START), Qt::Key_Enter);
  QTest::keyClick(&window, Qt::Key_Escape);
  EXPECT_EQ(starts.count(), 0) << "Enter presses nothing";
  EXPECT_EQ(closes.count(), 0) << "Escape closes nothing";
  QTest::keyClick(window.Button(IDC_BUTTON_START), Qt::Key_Space);
  EXPECT_EQ(starts.count(), 1) << "the keyboard still presses a focused button";

  const int order[] = {IDC_BUTTON_CHANGE_PATH, IDC_BUTTON_START, IDC_BUTTON_STOP, IDC_BUTTON_RUN, IDC_BUTTON_CANCEL,
                       IDC_BUTTON_MINIMIZE, IDC_BUTTON_CLOSE};
  window.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
  window.Control(order[0])->setFocus();
  for (std::size_t i = 1; i < std::size(order); ++i) {
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), window.Control(order[i])) << "after " << order[i - 1];
  }

  QWindow* handle = window.windowHandle();
  const int drags = window.DragStarts();
  QTest::mouseClick(handle, Qt::LeftButton, {}, QPoint(300, 57));   // a caption label
  QTest::mouseClick(handle, Qt::LeftButton, {}, QPoint(100, 100));  // the picture
  EXPECT_EQ(window.DragStarts(), drags + 2);
  QTest::mouseClick(handle, Qt::LeftButton, {}, QPoint(400, 135));  // a bar
  QTest::mouseClick(handle, Qt::LeftButton, {}, QPoint(580, 268));  // a button
  EXPECT_EQ(window.DragStarts(), drags + 2) << "bars and buttons do not move the window";

  window.close();
  EXPECT_TRUE(window.isVisible()) << "the close request goes to the close command first";
  QTest::mouseClick(window.Button(IDC_BUTTON_CLOSE), Qt::LeftButton);
  QTest::mouseClick(window.Button(IDC_BUTTON_CANCEL), Qt::LeftButton);
  EXPECT_EQ(closes.count(), 3);
  window.AllowClose();
  window.close();
  EXPECT_FALSE(window.isVisible());
}

} // namespace

namespace {

TEST_F(Window, AboutItemOnTheWindowsMenu) {
  QSignalSpy about(&window, &CSkinnedWindow::aboutRequested);
  QString offered;
  QTimer::singleShot(50, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (menu == nullptr || menu->actions().isEmpty()) return;
    offered = menu->actions().front()->text();
    menu->setActiveAction(menu->actions().front());
    QTest::keyClick(menu, Qt::Key_Return);
  });
  QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(100, 100), window.mapToGlobal(QPoint(100, 100)));
  QApplication::sendEvent(&window, &event);
  EXPECT_EQ(offered, QString::fromStdU16String(core::LoadUiString(core::IDS_ABOUTBOX)));
  EXPECT_EQ(about.count(), 1);
}

} // namespace
