#include "qtui/SkinnedWindow.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QWindow>

#include "core/StringTable.h"
#include "qtui/Accessibility.h"
#include "qtui/SkinImages.h"
#include "skin/WindowLayout.h"
#include "window/WindowTables.h"

namespace qtui {

using namespace skin;

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

} // namespace

CSkinnedWindow::CSkinnedWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {
  setFixedSize(kWindowWidth, kWindowHeight);
  QFont font;
  QStringList faces;
  for (const char16_t* face : kFontFaces) faces << QString::fromStdU16String(face);
  font.setFamilies(faces << QStringLiteral("sans-serif"));
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(kFontPixelSize);
  setFont(font);

  InstallAccessibility();
  for (const ControlRow& row : kControls) {
    std::unique_ptr<QWidget> control;
    switch (row.kind) {
      case Kind::Button: control = std::make_unique<CBitmapButtonEx>(this, row.id); break;
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
  FitLabelFonts();
  // Tab moves between the buttons in reading order; screen readers say each button's name in the
  // user's language (their faces are pictures); the keyboard starts on Start.
  QWidget* previousButton = nullptr;
  for (const ButtonRow& row : kButtons) {
    CBitmapButtonEx* button = Button(row.id);
    button->setAccessibleName(QString::fromStdU16String(core::LoadUiString(row.name)));
    if (previousButton != nullptr) setTabOrder(previousButton, button);
    previousButton = button;
  }
  Button(IDC_BUTTON_START)->setFocus();

  connect(Button(IDC_BUTTON_CANCEL), &QAbstractButton::clicked, this, &CSkinnedWindow::closeRequested);
  connect(Button(IDC_BUTTON_CLOSE), &QAbstractButton::clicked, this, &CSkinnedWindow::closeRequested);
  connect(Button(IDC_BUTTON_MINIMIZE), &QAbstractButton::clicked, this, &QWidget::showMinimized);
  setWindowIcon(LoadAppIcon());
  installEventFilter(this);
}

CSkinnedWindow::~CSkinnedWindow() = default;

void CSkinnedWindow::FitLabelFonts() {
  for (const ControlRow& row : kControls) {
    if (row.kind != Kind::Label && row.kind != Kind::Link) continue;
    QStringList texts{QString::fromUtf8(row.text)};
    for (const WidestText& widest : kWidestTexts)
      if (widest.id == row.id) texts << QString::fromStdU16String(widest.text);
    QFont fitted = font();
    const int size = FittingPixelSize(kFontPixelSize, kSmallestFontPixelSize, row.w, [&](int pixels) {
      fitted.setPixelSize(pixels);
      const QFontMetrics metrics(fitted);
      int width = 0;
      for (const QString& text : texts) width = std::max(width, metrics.horizontalAdvance(text));
      return width;
    });
    fitted.setPixelSize(size);
    Control(row.id)->setFont(fitted);
  }
}

QWidget* CSkinnedWindow::Control(int id) const {
  const auto found = m_controls.find(id);
  return found == m_controls.end() ? nullptr : found->second.get();
}
CTransparentStatic* CSkinnedWindow::Label(int id) const { return qobject_cast<CTransparentStatic*>(Control(id)); }
CTextProgressCtrl* CSkinnedWindow::Bar(int id) const { return qobject_cast<CTextProgressCtrl*>(Control(id)); }
CBitmapButtonEx* CSkinnedWindow::Button(int id) const { return qobject_cast<CBitmapButtonEx*>(Control(id)); }

void CSkinnedWindow::InitProgressBars() {
  for (const BarColours& c : kBarColours) {
    CTextProgressCtrl* bar = Bar(c.id);
    bar->SendMessage(kBarSetRange, 0, (100 << 16) | 0);
    bar->SendMessage(kBarSetBkColour, 0, c.back1);
    bar->SendMessage(kBarSetBkColour, 0, c.back2);
    bar->SendMessage(kBarSetBarColour, 0, c.bar);
    bar->SendMessage(TPBM_SETTEXTCOLOR, 0, kBarTextColour);
    bar->SendMessage(TPBM_SETBARTEXTCOLOR, 0, kBarTextColour);
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
  picture->SetImage(LoadSkinImage(kBackgroundImage, devicePixelRatioF()));
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
  static_cast<CBackgroundPicture*>(m_pBackground)->SetImage(LoadSkinImage(kBackgroundImage, ratio));
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

} // namespace qtui
