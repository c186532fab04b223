#include "core/Log.h"

#include <algorithm>

#include "core/SystemQueries.h"
#include "platform/Files.h"

namespace core {

CLog theLog;

namespace {

const char16_t* LevelText(std::uint16_t level) {
  switch (level) {
    case LOG_INFO: return u"INFO";
    case LOG_WARNING: return u"WARNING";
    case LOG_ERROR: return u"ERROR";
    default: return u"";
  }
}

// Copies at most capacity - 1 code units and a NUL.
void CopyCut(char16_t* out, std::size_t capacity, std::u16string_view text) {
  const std::size_t n = std::min(text.size(), capacity - 1);
  std::copy_n(text.data(), n, out);
  out[n] = u'\0';
}

} // namespace

CLog::CLog() : m_pfnClock(&platform::GetLocalTimeNow) {}

CLog::~CLog() = default;

bool CLog::SetFolder(std::u16string_view folder) {
  CopyCut(m_szFolder, kPathCapacity, folder);
  return platform::CreateOneDirectory(m_szFolder) == platform::ERROR_SUCCESS;
}

void CLog::SetName(std::u16string_view name) { CopyCut(m_szName, std::size(m_szName), name); }

void CLog::WriteArgs(std::uint16_t level, std::u16string_view format, std::initializer_list<FormatArg> args) {
  if (m_szFolder[0] == u'\0') return;
  // One reading of the clock serves the prefix and the names; taken before the lock.
  const platform::LocalTime t = m_pfnClock();

  std::lock_guard<std::mutex> lock(m_cs);
  char16_t message[kMessageCapacity];
  char16_t levelText[32];
  char16_t line[kMessageCapacity];
  char16_t directory[kPathCapacity];
  char16_t path[kPathCapacity];

  const std::size_t messageLength = FormatTo(message, kMessageCapacity, format, args);
  CopyCut(levelText, std::size(levelText), LevelText(level));
  const std::u16string_view messageView(message, messageLength);
  const std::size_t lineLength =
      m_bLinePrefix
          ? FormatTo(line, kMessageCapacity, u"[%02d:%02d:%02d,%03d] [%s] %s \r\n",
                     {t.hour, t.minute, t.second, t.millisecond, levelText, messageView})
          : FormatTo(line, kMessageCapacity, u"%s\r\n", {messageView});

  const std::u16string_view folder(m_szFolder);
  switch (m_nFolderMode) {
    case LOG_FOLDER_FLAT: FormatTo(directory, kPathCapacity, u"%s", {folder}); break;
    case LOG_FOLDER_DAILY:
      FormatTo(directory, kPathCapacity, u"%s/%d%02d%02d", {folder, t.year, t.month, t.day});
      break;
    case LOG_FOLDER_MONTHLY: FormatTo(directory, kPathCapacity, u"%s/%d%02d", {folder, t.year, t.month}); break;
    default: return;
  }
  if (!platform::PathExists(directory) && platform::CreateOneDirectory(directory) != platform::ERROR_SUCCESS)
    return;

  const std::u16string_view dir(directory);
  const std::u16string_view name(m_szName);
  switch (m_nFileMode) {
    case LOG_FILE_SINGLE: FormatTo(path, kPathCapacity, u"%s/%s.txt", {dir, name}); break;
    case LOG_FILE_HOURLY:
      FormatTo(path, kPathCapacity, u"%s/%s_%04d%02d%02d%02d.txt", {dir, name, t.year, t.month, t.day, t.hour});
      break;
    case LOG_FILE_DAILY:
      FormatTo(path, kPathCapacity, u"%s/%s_%04d%02d%02d.txt", {dir, name, t.year, t.month, t.day});
      break;
    default: return;
  }

  // UTF-16 little-endian, whatever the machine's byte order.
  unsigned char bytes[kMessageCapacity * 2];
  for (std::size_t i = 0; i < lineLength; ++i) {
    bytes[2 * i] = static_cast<unsigned char>(line[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<unsigned char>(line[i] >> 8);
  }
  platform::CFileHandle file;
  if (file.Open(path, platform::OpenMode::AppendAlways) != platform::ERROR_SUCCESS) return;
  file.Write(bytes, lineLength * 2);
}

void InitLog() {
  std::u16string base;
  GetRoamingAppDataFolder(base);
  theLog.SetFolder(Format(u"%s/%s", base, u"Mervo_Downloader"));
  theLog.SetName(u"Mervo_Downloader");
  theLog.m_nFileMode = LOG_FILE_DAILY;
  theLog.m_nFolderMode = LOG_FOLDER_FLAT;
  theLog.Write(LOG_INFO, u"");
  theLog.m_bLinePrefix = true;
  theLog.Write(LOG_INFO, u"log initialize success");
}

} // namespace core
