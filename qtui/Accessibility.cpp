#include "qtui/Accessibility.h"

#include <memory>

#include <QAccessibleWidget>

#include "qtui/TextProgressCtrl.h"
#include "qtui/TransparentStatic.h"

namespace qtui {

namespace {

class CLabelAccessible : public QAccessibleWidget {
 public:
  CLabelAccessible(QWidget* label, QAccessible::Role role) : QAccessibleWidget(label, role) {}
  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Name) return static_cast<const CTransparentStatic*>(widget())->GetWindowText();
    return QAccessibleWidget::text(kind);
  }
};

class CBarAccessible : public QAccessibleWidget {
 public:
  explicit CBarAccessible(QWidget* bar) : QAccessibleWidget(bar, QAccessible::ProgressBar) {}
  QString text(QAccessible::Text kind) const override {
    if (kind == QAccessible::Name) return static_cast<const CTextProgressCtrl*>(widget())->BarText();
    return QAccessibleWidget::text(kind);
  }
};

QAccessibleInterface* Factory(const QString& className, QObject* object) {
  auto* widget = qobject_cast<QWidget*>(object);
  if (!widget) return nullptr;
  // Qt's accessibility cache owns what the factory returns.
  if (className == QLatin1String("qtui::CTransparentStatic")) {
    const bool link = widget->cursor().shape() == Qt::PointingHandCursor;
    return std::make_unique<CLabelAccessible>(widget, link ? QAccessible::Link : QAccessible::StaticText).release();
  }
  if (className == QLatin1String("qtui::CTextProgressCtrl")) return std::make_unique<CBarAccessible>(widget).release();
  return nullptr;
}

} // namespace

void InstallAccessibility() {
  static const bool installed = [] {
    QAccessible::installFactory(&Factory);
    return true;
  }();
  (void)installed;
}

} // namespace qtui
