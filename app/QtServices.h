#pragma once
// The message boxes and the folder browser the user sees.
#include "Services.h"

namespace app {

class CQtMessageBox : public IMessageBox {
 public:
  bool Show(QWidget* owner, const std::u16string& text, BoxKind kind) override;
};

class CQtFolderBrowser : public IFolderBrowser {
 public:
  explicit CQtFolderBrowser(std::function<std::uint64_t(std::u16string_view)> freeSpace)
      : m_freeSpace(std::move(freeSpace)) {}
  bool Browse(QWidget* owner, const std::u16string& initial, const std::u16string& requiredSize,
              std::u16string& chosen) override;

 private:
  std::function<std::uint64_t(std::u16string_view)> m_freeSpace;
};

} // namespace app
