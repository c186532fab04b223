#include "platform/SettingsStore.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

#include "platform/Files.h"
#include "platform/Folders.h"
#include "platform/Utf.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

fs::path Native(std::u16string_view path) { return fs::path(NarrowUtf8(path)); }

} // namespace

CSettingsStore::CSettingsStore(std::u16string base) : m_base(std::move(base)) {
  if (!m_base.empty()) return;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && config[0] == '/') {
    m_base = WidenUtf8(config);
  } else if (GetHomeFolder(m_base)) {
    m_base += u"/.config";
  }
}

std::u16string CSettingsStore::Folder(std::u16string_view key) const {
  // "SOFTWARE\a\b" -> <base>/a/b
  std::u16string folder = m_base;
  std::size_t start = 0;
  bool first = true;
  while (start <= key.size()) {
    const std::size_t end = std::min(key.find(u'\\', start), key.size());
    const std::u16string_view part = key.substr(start, end - start);
    if (!(first && part == u"SOFTWARE") && !part.empty()) folder += u"/" + std::u16string(part);
    first = false;
    start = end + 1;
  }
  return folder;
}

ErrorCode CSettingsStore::OpenKey(std::u16string_view key) const {
  if (m_base.empty()) return ERROR_PATH_NOT_FOUND;
  return IsDirectory(Folder(key)) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

ErrorCode CSettingsStore::CreateKey(std::u16string_view key) const {
  if (m_base.empty()) return ERROR_PATH_NOT_FOUND;
  return CreateDirectoryTree(Folder(key));
}

ErrorCode CSettingsStore::QueryString(std::u16string_view key, std::u16string_view name, std::u16string& value,
                                      std::size_t maxUnits) const {
  if (const ErrorCode code = OpenKey(key); code != ERROR_SUCCESS) return code;
  const fs::path path = Native(Folder(key) + u"/" + std::u16string(name));
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return ERROR_FILE_NOT_FOUND;
  std::ifstream in(path, std::ios::binary);
  if (!in) return ERROR_ACCESS_DENIED;
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::u16string text = WidenUtf8(bytes);
  if (text.empty() && !bytes.empty()) return ERROR_INVALID_DATA;
  if (text.find(u'\0') != std::u16string::npos) return ERROR_INVALID_DATA;
  if (text.size() > maxUnits) return ERROR_MORE_DATA;
  value = std::move(text);
  return ERROR_SUCCESS;
}

ErrorCode CSettingsStore::SetString(std::u16string_view key, std::u16string_view name, std::u16string_view value) const {
  if (const ErrorCode code = OpenKey(key); code != ERROR_SUCCESS) return code;
  return WriteFileAtomically(Folder(key) + u"/" + std::u16string(name), NarrowUtf8(value)) == ERROR_SUCCESS
             ? ERROR_SUCCESS
             : ERROR_WRITE_FAULT;
}

ErrorCode CSettingsStore::DeleteTree(std::u16string_view key, std::u16string_view subkey) const {
  if (const ErrorCode code = OpenKey(key); code != ERROR_SUCCESS) return code;
  const fs::path path = Native(Folder(key) + u"/" + std::u16string(subkey));
  std::error_code ec;
  if (!fs::is_directory(path, ec)) return ERROR_FILE_NOT_FOUND;
  fs::remove_all(path, ec);
  return ec ? ErrorFromErrno(ec.value()) : ERROR_SUCCESS;
}

ErrorCode CSettingsStore::DeleteKeyIfEmpty(std::u16string_view key, std::u16string_view subkey) const {
  if (const ErrorCode code = OpenKey(key); code != ERROR_SUCCESS) return code;
  const fs::path path = Native(Folder(key) + u"/" + std::u16string(subkey));
  std::error_code ec;
  if (!fs::is_directory(path, ec)) return ERROR_FILE_NOT_FOUND;
  if (!fs::is_empty(path, ec)) return ERROR_DIR_NOT_EMPTY;
  fs::remove(path, ec);
  return ec ? ErrorFromErrno(ec.value()) : ERROR_SUCCESS;
}

} // namespace platform
