#pragma once
// The download worker: on its own thread it walks the file list and makes the install folder hold
// every entry, complete and with the right MD5 digest. It skips valid files, resumes shorter ones
// with a Range request, fetches missing, bigger or corrupt ones from the start, verifies every
// transfer, and reports to the window only through posted records.
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "download/Messages.h"
#include "download/Thread.h"
#include "filelist/FileList.h"
#include "platform/ErrorCodes.h"

namespace download {

// True when a list entry's name can only name a file below the install folder: relative, "/"
// between components, none of them empty, "." or "..", no backslash and no control character.
bool IsSafeEntryName(std::u16string_view name);

class CDownloadThread : public CThread {
 public:
  using FreeSpaceQuery = std::function<std::uint64_t(std::u16string_view folder)>;

  explicit CDownloadThread(HWND hWnd);
  ~CDownloadThread() override;

  // Only while no run is going on.
  void SetFileList(const filelist::CFileList& list);
  void SetDownloadPath(std::u16string_view folder);

  // One run over the list: true when it reached the end of the list.
  bool DownloadFiles();

  platform::ErrorCode GetFileChecksum(std::u16string_view path, std::u16string& checksum);
  // Splits "dir/.../file" into the folder below the install folder (created, every level) and the
  // file's own name. False, with nothing changed, for a name without "/".
  bool MakeSubDirectory(std::u16string& name, std::u16string& directory);
  bool PostProgress(std::int32_t index, bool verified, std::uint64_t total, std::uint64_t received,
                    std::uint64_t resumedFrom = 0);
  bool PostResult(bool success);

  // Seams for exact tests: where free space comes from, and the network time-out.
  void SetFreeSpaceQuery(FreeSpaceQuery query) { m_freeSpace = std::move(query); }
  void SetHttpTimeout(std::uint32_t milliseconds) { m_dwHttpTimeoutMs = milliseconds; }

  std::atomic<HWND> m_hWnd;
  filelist::CFileList m_FileList;
  std::u16string m_strDownloadPath;
  std::u16string m_strErrorMessage;
  std::uint32_t m_nFileIndex = 0;
  std::atomic<std::uint32_t> m_dwFileStartTime{0};
  std::uint64_t m_nAccountedSize = 0;

 protected:
  bool Run() override;

 private:
  bool Fail(unsigned messageId);
  bool Fail(unsigned messageId, platform::ErrorCode code);

  FreeSpaceQuery m_freeSpace;
  std::uint32_t m_dwHttpTimeoutMs;
};

} // namespace download
