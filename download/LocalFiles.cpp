#include "download/LocalFiles.h"

#include <algorithm>
#include <vector>

#include "download/Md5.h"
#include "platform/Files.h"

namespace download {

using namespace platform;

ErrorCode GetLocalFileSize(std::u16string_view path, std::uint64_t* size) {
  if (size == nullptr) return ERROR_INVALID_PARAMETER;
  *size = 0;
  if (path.empty()) return ERROR_INVALID_PARAMETER;
  // By attributes: opening a FIFO found at the path would block.
  return GetFileSizeOf(path, *size);
}

ErrorCode ComputeFileChecksum(std::u16string_view path, const std::atomic<bool>* running, std::u16string& checksum) {
  checksum.clear();
  CFileHandle file;
  if (const ErrorCode code = file.Open(path, OpenMode::ReadExisting, Sharing::ReadShared); code != ERROR_SUCCESS)
    return code;
  file.AdviseSequential();
  CMd5 md5;
  if (!md5.Ok()) return ERROR_NOT_ENOUGH_MEMORY;
  std::vector<unsigned char> block(kHashReadBlock);
  for (;;) {
    std::size_t got = 0;
    if (const ErrorCode code = file.Read(block.data(), block.size(), got); code != ERROR_SUCCESS) return code;
    if (got == 0) {
      if (running != nullptr && !running->load(std::memory_order_relaxed)) return CHECKSUM_STOPPED;
      break;
    }
    if (const ErrorCode code = HashWatchingStop(md5, block.data(), got, running); code != ERROR_SUCCESS) return code;
  }
  std::u16string text = md5.Finish();
  if (text.empty()) return ERROR_GEN_FAILURE;
  checksum = std::move(text);
  return ERROR_SUCCESS;
}

} // namespace download
