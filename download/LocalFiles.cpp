#include "download/LocalFiles.h"

#include <memory>
#include <openssl/evp.h>
#include <vector>

#include "platform/Files.h"

namespace download {

using namespace platform;

namespace {

// Large reads keep the disk and the system calls cheap; the stop flag is still seen after every
// 1024 bytes hashed.
constexpr std::size_t kReadBlock = 256 * 1024;
constexpr std::size_t kHashSlice = 1024;

struct DigestDeleter {
  void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

} // namespace

ErrorCode GetLocalFileSize(std::u16string_view path, std::uint64_t* size) {
  if (size == nullptr) return ERROR_INVALID_PARAMETER;
  *size = 0;
  if (path.empty()) return ERROR_INVALID_PARAMETER;
  CFileHandle file;
  if (const ErrorCode code = file.Open(path, OpenMode::ReadExisting); code != ERROR_SUCCESS) return code;
  return file.Size(*size);
}

ErrorCode ComputeFileChecksum(std::u16string_view path, const std::atomic<bool>* running, std::u16string& checksum) {
  checksum.clear();
  CFileHandle file;
  if (const ErrorCode code = file.Open(path, OpenMode::ReadExisting, Sharing::ReadShared); code != ERROR_SUCCESS)
    return code;
  file.AdviseSequential();
  const std::unique_ptr<EVP_MD_CTX, DigestDeleter> context(EVP_MD_CTX_new());
  if (!context || EVP_DigestInit_ex(context.get(), EVP_md5(), nullptr) != 1) return ERROR_NOT_ENOUGH_MEMORY;
  std::vector<unsigned char> block(kReadBlock);
  for (;;) {
    std::size_t got = 0;
    if (const ErrorCode code = file.Read(block.data(), block.size(), got); code != ERROR_SUCCESS) return code;
    if (got == 0) {
      if (running != nullptr && !running->load(std::memory_order_relaxed)) return CHECKSUM_STOPPED;
      break;
    }
    for (std::size_t offset = 0; offset < got; offset += kHashSlice) {
      if (running != nullptr && !running->load(std::memory_order_relaxed)) return CHECKSUM_STOPPED;
      const std::size_t n = std::min(kHashSlice, got - offset);
      if (EVP_DigestUpdate(context.get(), block.data() + offset, n) != 1) return ERROR_GEN_FAILURE;
    }
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return ERROR_GEN_FAILURE;
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string text;
  text.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    text.push_back(kDigits[digest[i] >> 4]);
    text.push_back(kDigits[digest[i] & 0x0F]);
  }
  checksum = std::move(text);
  return ERROR_SUCCESS;
}

} // namespace download
