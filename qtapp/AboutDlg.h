#pragma once
// The About box, opened from the window's own menu.
#include <QDialog>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>

namespace qtapp {

class CAboutDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CAboutDlg(QWidget* parent);

 private:
  QGridLayout m_layout{this};
  QLabel m_icon{this};
  QLabel m_text{this};
  QDialogButtonBox m_buttons{QDialogButtonBox::Ok, this};
};

} // namespace qtapp
