#pragma once
// The process-wide log: one UTF-16LE line per call, appended to a file that is opened and closed
// for that line, so every thread can write and each line is on disk when the call returns.
#include <cstdint>
#include <mutex>
#include <string_view>

#include "core/Format.h"
#include "platform/Clock.h"

namespace core {

enum LogLevel : std::uint16_t { LOG_INFO = 0, LOG_WARNING = 1, LOG_ERROR = 2 };
enum LogFileMode : std::uint16_t { LOG_FILE_SINGLE = 0, LOG_FILE_HOURLY = 1, LOG_FILE_DAILY = 2 };
enum LogFolderMode : std::uint16_t { LOG_FOLDER_FLAT = 0, LOG_FOLDER_DAILY = 1, LOG_FOLDER_MONTHLY = 2 };

class CLog {
 public:
  using ClockFn = platform::LocalTime (*)();

  CLog();
  virtual ~CLog();
  CLog(const CLog&) = delete;
  CLog& operator=(const CLog&) = delete;

  // Appends one line built from the format and its arguments. Never fails towards the caller and
  // allocates nothing: the line is formed in fixed buffers.
  template <typename... Args>
  void Write(std::uint16_t level, std::u16string_view format, const Args&... args) {
    if (m_szFolder[0] == u'\0') return;
    WriteArgs(level, format, {FormatArg(args)...});
  }
  void WriteArgs(std::uint16_t level, std::u16string_view format, std::initializer_list<FormatArg> args);

  // Sets the folder (cut at 259 code units) and creates its last level.
  bool SetFolder(std::u16string_view folder);
  // Sets the base name of the files (cut at 63 code units).
  void SetName(std::u16string_view name);
  // Where the time of each line comes from; the local clock unless a test sets another.
  void SetClock(ClockFn clock) { m_pfnClock = clock; }
  const char16_t* GetFolder() const { return m_szFolder; }

  bool m_bLinePrefix = false;
  std::uint16_t m_nFileMode = 0;
  std::uint16_t m_nFolderMode = 0;

 private:
  static constexpr std::size_t kMessageCapacity = 8192;
  static constexpr std::size_t kPathCapacity = 260;

  std::mutex m_cs;
  char16_t m_szFolder[kPathCapacity] = {};
  char16_t m_szName[64] = {};
  ClockFn m_pfnClock;
};

extern CLog theLog;

// Configures theLog for this program: a "Mervo_Downloader" folder in the per-user state folder, one
// file per day, an empty line that separates runs, then "log initialize success".
void InitLog();

} // namespace core
