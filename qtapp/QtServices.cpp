#include "qtapp/QtServices.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QMessageBox>

#include "core/StringTable.h"
#include "core/SystemQueries.h"
#include "core/Text.h"

namespace qtapp {

bool CQtMessageBox::Show(QWidget* owner, const std::u16string& text, controller::BoxKind kind) {
  using controller::BoxKind;
  // The caption is the program's name, as on every box of the program.
  QMessageBox box(kind == BoxKind::OkError ? QMessageBox::Critical : QMessageBox::NoIcon,
                  QCoreApplication::applicationName(), QString::fromStdU16String(text),
                  kind == BoxKind::YesNo ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok, owner);
  return box.exec() != QMessageBox::No;
}

bool CQtFolderBrowser::Browse(QWidget* owner, const std::u16string& initial, const std::u16string& requiredSize,
                              std::u16string& chosen) {
  // Opens in the folder's parent with the folder itself selected, so the line below speaks of it at
  // once and the user can accept it as it is.
  const QFileInfo start(QString::fromStdU16String(initial));
  const bool hasParent = !start.fileName().isEmpty();
  QFileDialog dialog(owner, QString(), hasParent ? start.absolutePath() : start.absoluteFilePath());
  dialog.setObjectName(QStringLiteral("FolderBrowser"));
  dialog.setFileMode(QFileDialog::Directory);
  dialog.setOption(QFileDialog::ShowDirsOnly);
  dialog.setOption(QFileDialog::DontUseNativeDialog);  // it needs room for the free-space line
  if (hasParent) dialog.selectFile(start.fileName());
  QLabel freeSpaceLine(&dialog);
  freeSpaceLine.setObjectName(QStringLiteral("FreeSpaceLine"));
  if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) grid->addWidget(&freeSpaceLine, grid->rowCount(), 0, 1, -1);
  const auto describe = [&](const QString& path) {
    const std::u16string free = core::FormatByteSize(m_freeSpace(path.toStdU16String()));
    freeSpaceLine.setText(QString::fromStdU16String(core::LoadResString(core::IDS_NEED_FREE_SPACE, requiredSize, free)));
  };
  describe(QString::fromStdU16String(initial));
  QObject::connect(&dialog, &QFileDialog::currentChanged, &freeSpaceLine, describe);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  chosen = dialog.selectedFiles().front().toStdU16String();
  return true;
}

} // namespace qtapp
