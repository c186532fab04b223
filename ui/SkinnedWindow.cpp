#include "ui/SkinnedWindow.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QWindow>

#include "ui/SkinImages.h"
#include "core/StringTable.h"

namespace ui {

namespace {

// The background picture (image 131), drawn at its own size from the top-left corner.
class CBackgroundPicture : public QWidget {
 public:
  explicit CBackgroundPicture(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_OpaquePaintEvent);
  }
  const QImage& Image() const { return m_image; }
  void SetImage(QImage image) {
    m_image = std::move(image);
    update();
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    if (m_image.isNull()) painter.fillRect(rect(), Qt::black);
    else painter.drawImage(QPoint(0, 0), m_image);
  }

 private:
  QImage m_image;
};

struct ButtonRow {
  int id, x, y;
  unsigned normal, selected, focus, disabled, hover;
};
// In the order the buttons are dressed.
constexpr ButtonRow kButtons[] = {
    {IDC_BUTTON_START, 285, 320, 147, 150, 149, 148, 150},
    {IDC_BUTTON_STOP, 369, 320, 151, 154, 153, 152, 154},
    {IDC_BUTTON_RUN, 453, 320, 143, 146, 145, 144, 146},
    {IDCANCEL, 537, 320, 136, 139, 138, 137, 139},
    {IDC_BUTTON_CHANGE_PATH, 548, 257, 140, 0, 0, 141, 142},
    {IDC_BUTTON_MINIMIZE, 588, 9, 134, 0, 135, 0, 135},
    {IDC_BUTTON_CLOSE, 613, 9, 132, 0, 133, 0, 133},
};

enum class Kind { Button, Label, Link, PathLabel, Bar, Background };
struct ControlRow {
  int id;
  Kind kind;
  int x, y, w, h;
  const char* text;
};
// Template order: the creation order and, for the buttons, the tab order.
constexpr ControlRow kControls[] = {
    {IDC_BUTTON_CHANGE_PATH, Kind::Button, 548, 257, 67, 23, ""},
    {IDC_BUTTON_START, Kind::Button, 285, 320, 77, 27, ""},
    {IDC_BUTTON_STOP, Kind::Button, 369, 320, 77, 27, ""},
    {IDC_BUTTON_RUN, Kind::Button, 453, 320, 77, 27, ""},
    {IDCANCEL, Kind::Button, 537, 320, 77, 27, ""},
    {IDC_STATIC_FILE_NAME, Kind::Label, 357, 56, 193, 14, "file name"},
    {IDC_STATIC_SPEED, Kind::Label, 546, 79, 88, 14, "0 Bytes/sec"},
    {IDC_STATIC_FILE_SIZE, Kind::Label, 343, 79, 89, 14, "0 Bytes"},
    {IDC_STATIC_ELAPSED, Kind::Label, 373, 100, 66, 14, "00:00:00"},
    {IDC_STATIC_TIME_LEFT, Kind::Label, 509, 100, 62, 14, "00:00:00"},
    {IDC_STATIC_FILE_SIZE2, Kind::Label, 527, 149, 75, 14, "0 Bytes"},
    {IDC_STATIC_TOTAL_DONE, Kind::Label, 408, 191, 73, 14, "0 Bytes"},
    {IDC_STATIC_SLASH_TOTAL, Kind::Label, 487, 191, 14, 14, "/"},
    {IDC_STATIC_TOTAL_SIZE, Kind::Label, 527, 191, 75, 14, "0 Bytes"},
    {IDC_PROGRESS_FILE, Kind::Bar, 368, 128, 248, 16, ""},
    {IDC_PROGRESS_TOTAL, Kind::Bar, 369, 170, 249, 16, ""},
    {IDC_STATIC_BACKGROUND, Kind::Background, 12, 302, 23, 21, ""},
    {IDC_STATIC_SLASH_FILE, Kind::Label, 490, 149, 14, 14, "/"},
    {IDC_STATIC_FILE_DONE, Kind::Label, 408, 149, 75, 14, "0 Bytes"},
    {IDC_STATIC_REQUIRED, Kind::Label, 390, 289, 58, 17, "0 Bytes"},
    {IDC_STATIC_AVAILABLE, Kind::Label, 550, 289, 75, 17, "0 Bytes"},
    {IDC_STATIC_FOLDER, Kind::PathLabel, 291, 261, 232, 14, "path"},
    {IDC_BUTTON_MINIMIZE, Kind::Button, 588, 9, 14, 14, ""},
    {IDC_BUTTON_CLOSE, Kind::Button, 613, 9, 14, 14, ""},
    {IDC_STATIC_FORUM, Kind::Link, 12, 348, 83, 14, "Official Forum"},
    {IDC_STATIC_REGISTER, Kind::Link, 102, 348, 75, 14, "Register"},
    {IDC_CAPTION_REQUIRED, Kind::Label, 280, 289, 109, 14, "Required Storage : "},
    {IDC_CAPTION_AVAILABLE, Kind::Label, 441, 289, 107, 14, "Available Storage : "},
    {IDC_CAPTION_FOLDER, Kind::Label, 280, 229, 217, 14, "Download Folder"},
    {IDC_CAPTION_DOWNLOADED, Kind::Label, 280, 128, 70, 14, "Downloaded"},
    {IDC_CAPTION_TOTAL, Kind::Label, 280, 172, 30, 14, "Total"},
    {IDC_CAPTION_ELAPSED, Kind::Label, 278, 100, 86, 14, "Time Elapsed : "},
    {IDC_CAPTION_FILE_SIZE, Kind::Label, 280, 79, 56, 14, "File Size : "},
    {IDC_CAPTION_FILE_NAME, Kind::Label, 280, 54, 67, 14, "File Name : "},
    {IDC_CAPTION_SPEED, Kind::Label, 438, 79, 106, 14, "Download Speed : "},
    {IDC_CAPTION_TIME_LEFT, Kind::Label, 438, 100, 66, 14, "Time Left : "},
    {IDC_CAPTION_STATUS, Kind::Label, 278, 26, 179, 14, "Tranfer Status"},
};

} // namespace

CSkinnedWindow::CSkinnedWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  setFixedSize(kWidth, kHeight);
  // The window is laid out for a narrow sans-serif face at 12 pixels: the sizes and times must fit
  // their small value fields ("1023.99 MB" in the 58-pixel required-storage field).
  QFont font;
  font.setFamilies({QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Arial Narrow"),
                    QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans Condensed"), QStringLiteral("sans-serif")});
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(12);
  setFont(font);

  QWidget* previousButton = nullptr;
  for (const ControlRow& row : kControls) {
    std::unique_ptr<QWidget> control;
    switch (row.kind) {
      case Kind::Button: {
        auto button = std::make_unique<CBitmapButtonEx>(this, row.id);
        if (previousButton != nullptr) setTabOrder(previousButton, button.get());
        previousButton = button.get();
        control = std::move(button);
        break;
      }
      case Kind::Label: control = std::make_unique<CTransparentStatic>(this, row.id, QString::fromUtf8(row.text)); break;
      case Kind::PathLabel:
        control = std::make_unique<CTransparentStatic>(this, row.id, QString::fromUtf8(row.text), false, true);
        break;
      case Kind::Link:
        control = std::make_unique<CTransparentStatic>(this, row.id, QString::fromUtf8(row.text), true);
        break;
      case Kind::Bar: control = std::make_unique<CTextProgressCtrl>(this, row.id); break;
      case Kind::Background:
        control = std::make_unique<CBackgroundPicture>(this);
        m_pBackground = control.get();
        break;
    }
    control->setGeometry(row.x, row.y, row.w, row.h);
    control->installEventFilter(this);
    if (row.kind == Kind::Link) control->hide();
    m_controls[row.id] = std::move(control);
  }
  m_pBackground->lower();

  connect(Button(IDCANCEL), &QAbstractButton::clicked, this, &CSkinnedWindow::closeRequested);
  connect(Button(IDC_BUTTON_CLOSE), &QAbstractButton::clicked, this, &CSkinnedWindow::closeRequested);
  connect(Button(IDC_BUTTON_MINIMIZE), &QAbstractButton::clicked, this, &QWidget::showMinimized);
  setWindowIcon(LoadAppIcon());
  installEventFilter(this);
}

CSkinnedWindow::~CSkinnedWindow() = default;

QWidget* CSkinnedWindow::Control(int id) const {
  const auto found = m_controls.find(id);
  return found == m_controls.end() ? nullptr : found->second.get();
}
CTransparentStatic* CSkinnedWindow::Label(int id) const { return qobject_cast<CTransparentStatic*>(Control(id)); }
CTextProgressCtrl* CSkinnedWindow::Bar(int id) const { return qobject_cast<CTextProgressCtrl*>(Control(id)); }
CBitmapButtonEx* CSkinnedWindow::Button(int id) const { return qobject_cast<CBitmapButtonEx*>(Control(id)); }

void CSkinnedWindow::InitProgressBars() {
  struct Colours {
    int id;
    COLORREF back1, back2, bar;
  };
  for (const Colours& c : {Colours{IDC_PROGRESS_FILE, RGB(0, 0, 0), RGB(0, 0, 0), RGB(98, 98, 98)},
                           Colours{IDC_PROGRESS_TOTAL, RGB(255, 255, 255), RGB(0, 0, 0), RGB(255, 175, 16)}}) {
    CTextProgressCtrl* bar = Bar(c.id);
    bar->SendMessage(PBM_SETRANGE, 0, (100 << 16) | 0);
    bar->SendMessage(PBM_SETBKCOLOR, 0, c.back1);
    bar->SendMessage(PBM_SETBKCOLOR, 0, c.back2);
    bar->SendMessage(PBM_SETBARCOLOR, 0, c.bar);
    bar->SendMessage(TPBM_SETTEXTCOLOR, 0, RGB(255, 255, 255));
    bar->SendMessage(TPBM_SETBARTEXTCOLOR, 0, RGB(255, 255, 255));
    bar->SendMessage(TPBM_SETTEXTALIGN, 1);
    bar->SendMessage(TPBM_SHOWPERCENT, 1);
  }
}

void CSkinnedWindow::InitButtons() {
  for (const ButtonRow& row : kButtons) {
    CBitmapButtonEx* button = Button(row.id);
    button->LoadBitmaps(row.normal, row.selected, row.focus, row.disabled, devicePixelRatioF());
    button->move(row.x, row.y);
    button->SizeToContent();
    button->SetHoverImage(row.hover, devicePixelRatioF());
  }
  m_dSkinRatio = devicePixelRatioF();
}

void CSkinnedWindow::InitBackground() {
  auto* picture = static_cast<CBackgroundPicture*>(m_pBackground);
  picture->SetImage(LoadSkinImage(131, devicePixelRatioF()));
  picture->setGeometry(0, 0, 640, 380);
  picture->lower();
  picture->show();
  m_dSkinRatio = devicePixelRatioF();
}

void CSkinnedWindow::RenderSkin(qreal ratio) {
  for (const ButtonRow& row : kButtons) {
    CBitmapButtonEx* button = Button(row.id);
    button->LoadBitmaps(row.normal, row.selected, row.focus, row.disabled, ratio);
    button->SetHoverImage(row.hover, ratio);
  }
  static_cast<CBackgroundPicture*>(m_pBackground)->SetImage(LoadSkinImage(131, ratio));
  m_dSkinRatio = ratio;
}

qreal CSkinnedWindow::BackgroundRatio() const {
  return static_cast<const CBackgroundPicture*>(m_pBackground)->Image().devicePixelRatio();
}

bool CSkinnedWindow::event(QEvent* event) {
  // On a screen of another density the artwork is rendered afresh, so it stays sharp.
  const bool screenChanged = event->type() == QEvent::ScreenChangeInternal
#if QT_VERSION >= QT_VERSION_CHECK(6, 6, 0)
                             || event->type() == QEvent::DevicePixelRatioChange
#endif
      ;
  const bool result = QWidget::event(event);
  if (screenChanged && m_dSkinRatio > 0 && !qFuzzyCompare(m_dSkinRatio, devicePixelRatioF()))
    RenderSkin(devicePixelRatioF());
  return result;
}

void CSkinnedWindow::mousePressEvent(QMouseEvent* event) {
  // Presses on the background and on labels reach the window: they move it.
  if (event->button() == Qt::LeftButton) {
    ++m_nDragStarts;
    if (QWindow* handle = windowHandle()) handle->startSystemMove();
  }
  QWidget::mousePressEvent(event);
}

void CSkinnedWindow::closeEvent(QCloseEvent* event) {
  if (m_bCloseAllowed) {
    event->accept();
    return;
  }
  event->ignore();
  emit closeRequested();
}

void CSkinnedWindow::contextMenuEvent(QContextMenuEvent* event) {
  // A frameless window has no system menu; the About item lives on the window's own menu.
  QMenu menu(this);
  QAction* about = menu.addAction(QString::fromStdU16String(core::LoadUiString(core::IDS_ABOUTBOX)));
  if (menu.exec(event->globalPos()) == about) emit aboutRequested();
}

bool CSkinnedWindow::eventFilter(QObject* watched, QEvent* event) {
  // Enter never presses a button and Escape never closes the window.
  if (event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease ||
      event->type() == QEvent::ShortcutOverride) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Escape) return true;
  }
  return QWidget::eventFilter(watched, event);
}

} // namespace ui
