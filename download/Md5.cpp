#include "download/Md5.h"

#include <algorithm>

namespace download {

using namespace platform;

std::u16string CMd5::Finish() {
  unsigned char digest[16];
  if (!m_digest.Finish(digest)) return {};
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string text;
  text.reserve(2 * sizeof digest);
  for (const unsigned char byte : digest) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

ErrorCode HashWatchingStop(CMd5& md5, const unsigned char* data, std::size_t size, const std::atomic<bool>* running) {
  if (running == nullptr) return md5.Update(data, size) ? ERROR_SUCCESS : ERROR_GEN_FAILURE;
  for (std::size_t offset = 0; offset < size; offset += kHashSlice) {
    if (!running->load(std::memory_order_relaxed)) return CHECKSUM_STOPPED;
    if (!md5.Update(data + offset, std::min(kHashSlice, size - offset))) return ERROR_GEN_FAILURE;
  }
  return ERROR_SUCCESS;
}

} // namespace download
