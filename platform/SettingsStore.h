#pragma once
// The per-user settings store, keyed as the registry is ("SOFTWARE\Mervolink\VALDRIS"). On Windows
// it is the registry below HKEY_CURRENT_USER. Elsewhere keys are folders below the configuration
// folder ("SOFTWARE" is the store's own folder) and values small files in them, every write atomic.
#include <string>
#include <string_view>

#include "platform/ErrorCodes.h"

namespace platform {

constexpr ErrorCode ERROR_INVALID_DATA = 13;
constexpr ErrorCode ERROR_MORE_DATA = 234;

class CSettingsStore {
 public:
  // The store below base: a folder (by default $XDG_CONFIG_HOME, else ~/.config), or on Windows a key
  // below HKEY_CURRENT_USER (by default HKEY_CURRENT_USER itself).
  explicit CSettingsStore(std::u16string base = {});

  ErrorCode OpenKey(std::u16string_view key) const;
  ErrorCode CreateKey(std::u16string_view key) const;
  // Reads a text value of at most maxUnits UTF-16 code units (ERROR_MORE_DATA beyond that).
  ErrorCode QueryString(std::u16string_view key, std::u16string_view name, std::u16string& value,
                        std::size_t maxUnits = 259) const;
  ErrorCode SetString(std::u16string_view key, std::u16string_view name, std::u16string_view value) const;
  // Deletes the subkey of key with everything below it.
  ErrorCode DeleteTree(std::u16string_view key, std::u16string_view subkey) const;
  // Deletes the subkey of key only when it holds neither keys nor values (ERROR_DIR_NOT_EMPTY else).
  ErrorCode DeleteKeyIfEmpty(std::u16string_view key, std::u16string_view subkey) const;

  const std::u16string& Base() const { return m_base; }

 private:
  std::u16string Folder(std::u16string_view key) const;
  std::u16string m_base;
};

} // namespace platform
