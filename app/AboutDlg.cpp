#include "app/AboutDlg.h"

#include <QPushButton>

#include "ui/SkinImages.h"

namespace app {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("MervoDownloader 정보"));
  m_icon.setPixmap(ui::LoadAppIcon().pixmap(32, 32));
  m_text.setText(QStringLiteral("MervoDownloader, 버전 1.0"));
  m_buttons.button(QDialogButtonBox::Ok)->setText(QStringLiteral("확인"));
  connect(&m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  m_layout.addWidget(&m_icon, 0, 0, Qt::AlignTop);
  m_layout.addWidget(&m_text, 0, 1);
  m_layout.addWidget(&m_buttons, 1, 0, 1, 2);
  setFixedSize(sizeHint());
}

} // namespace app
