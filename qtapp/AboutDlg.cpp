#include "qtapp/AboutDlg.h"

#include <QPushButton>

#include "core/StringTable.h"
#include "qtui/SkinImages.h"

namespace qtapp {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
  // In the user's language, as the About item that opens it.
  const auto text = [](unsigned id) { return QString::fromStdU16String(core::LoadUiString(id)); };
  setWindowTitle(text(core::IDS_ABOUT_CAPTION));
  m_icon.setPixmap(qtui::LoadAppIcon().pixmap(32, 32));
  m_text.setText(text(core::IDS_ABOUT_TEXT));
  m_buttons.button(QDialogButtonBox::Ok)->setText(text(core::IDS_ABOUT_OK));
  connect(&m_buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  m_layout.addWidget(&m_icon, 0, 0, Qt::AlignTop);
  m_layout.addWidget(&m_text, 0, 1);
  m_layout.addWidget(&m_buttons, 1, 0, 1, 2);
  setFixedSize(sizeHint());
}

} // namespace qtapp
