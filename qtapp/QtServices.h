#pragma once
// The message boxes and the folder browser the user sees, behind small interfaces that tests answer.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "controller/MainView.h"

class QWidget;

namespace qtapp {

class IMessageBox {
 public:
  virtual ~IMessageBox() = default;
  // True for OK or Yes.
  virtual bool Show(QWidget* owner, const std::u16string& text, controller::BoxKind kind) = 0;
};

class IFolderBrowser {
 public:
  virtual ~IFolderBrowser() = default;
  // Opens on initial, with a line that tells the free space of the selection against
  // requiredSize. False when the user cancelled; otherwise chosen holds what was picked.
  virtual bool Browse(QWidget* owner, const std::u16string& initial, const std::u16string& requiredSize,
                      std::u16string& chosen) = 0;
};

class CQtMessageBox : public IMessageBox {
 public:
  bool Show(QWidget* owner, const std::u16string& text, controller::BoxKind kind) override;
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

} // namespace qtapp
