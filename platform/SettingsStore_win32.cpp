// The settings store in the registry, below HKEY_CURRENT_USER (below a key of the caller's choosing
// when one is given, as tests do).
#include "platform/SettingsStore.h"

#include <string>
#include <windows.h>

namespace platform {

namespace {

std::wstring Wide(std::u16string_view text) { return std::wstring(text.begin(), text.end()); }

} // namespace

CSettingsStore::CSettingsStore(std::u16string base) : m_base(std::move(base)) {}

std::u16string CSettingsStore::Folder(std::u16string_view key) const {
  return m_base.empty() ? std::u16string(key) : m_base + u"\\" + std::u16string(key);
}

ErrorCode CSettingsStore::OpenKey(std::u16string_view key) const {
  HKEY handle = nullptr;
  const LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, Wide(Folder(key)).c_str(), 0, KEY_READ, &handle);
  if (status == ERROR_SUCCESS) RegCloseKey(handle);
  return static_cast<ErrorCode>(status);
}

ErrorCode CSettingsStore::CreateKey(std::u16string_view key) const {
  HKEY handle = nullptr;
  const LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, Wide(Folder(key)).c_str(), 0, nullptr,
                                         REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &handle, nullptr);
  if (status == ERROR_SUCCESS) RegCloseKey(handle);
  return static_cast<ErrorCode>(status);
}

ErrorCode CSettingsStore::QueryString(std::u16string_view key, std::u16string_view name, std::u16string& value,
                                      std::size_t maxUnits) const {
  std::wstring buffer(maxUnits + 1, L'\0');
  DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
  const LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, Wide(Folder(key)).c_str(), Wide(name).c_str(),
                                      RRF_RT_REG_SZ, nullptr, buffer.data(), &bytes);
  if (status != ERROR_SUCCESS) return static_cast<ErrorCode>(status);
  buffer.resize(bytes / sizeof(wchar_t));
  while (!buffer.empty() && buffer.back() == L'\0') buffer.pop_back();
  value.assign(buffer.begin(), buffer.end());
  return ERROR_SUCCESS;
}

ErrorCode CSettingsStore::SetString(std::u16string_view key, std::u16string_view name, std::u16string_view value) const {
  const std::wstring text = Wide(value);
  return static_cast<ErrorCode>(RegSetKeyValueW(HKEY_CURRENT_USER, Wide(Folder(key)).c_str(), Wide(name).c_str(),
                                                REG_SZ, text.c_str(),
                                                static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))));
}

ErrorCode CSettingsStore::DeleteTree(std::u16string_view key, std::u16string_view subkey) const {
  HKEY handle = nullptr;
  LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, Wide(Folder(key)).c_str(), 0, KEY_ALL_ACCESS, &handle);
  if (status != ERROR_SUCCESS) return static_cast<ErrorCode>(status);
  status = RegDeleteTreeW(handle, Wide(subkey).c_str());
  RegCloseKey(handle);
  return static_cast<ErrorCode>(status);
}

ErrorCode CSettingsStore::DeleteKeyIfEmpty(std::u16string_view key, std::u16string_view subkey) const {
  HKEY handle = nullptr;
  const std::wstring path = Wide(Folder(key)) + L"\\" + Wide(subkey);
  LSTATUS status = RegOpenKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, &handle);
  if (status != ERROR_SUCCESS) return static_cast<ErrorCode>(status);
  DWORD subkeys = 0, values = 0;
  status = RegQueryInfoKeyW(handle, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr, nullptr,
                            nullptr, nullptr);
  RegCloseKey(handle);
  if (status != ERROR_SUCCESS) return static_cast<ErrorCode>(status);
  if (subkeys != 0 || values != 0) return ERROR_DIR_NOT_EMPTY;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(Folder(key)).c_str(), 0, KEY_ALL_ACCESS, &handle) != ERROR_SUCCESS)
    return ERROR_ACCESS_DENIED;
  status = RegDeleteKeyW(handle, Wide(subkey).c_str());
  RegCloseKey(handle);
  return static_cast<ErrorCode>(status);
}

} // namespace platform
