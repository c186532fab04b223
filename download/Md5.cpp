#include "download/Md5.h"

#include <algorithm>
#include <openssl/evp.h>

namespace download {

using namespace platform;

void CMd5::Deleter::operator()(evp_md_ctx_st* context) const { EVP_MD_CTX_free(context); }

CMd5::CMd5() : m_context(EVP_MD_CTX_new()) {
  m_ok = m_context && EVP_DigestInit_ex(m_context.get(), EVP_md5(), nullptr) == 1;
}

CMd5::~CMd5() = default;

bool CMd5::Update(const void* data, std::size_t size) {
  m_ok = m_ok && EVP_DigestUpdate(m_context.get(), data, size) == 1;
  return m_ok;
}

std::u16string CMd5::Finish() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!m_ok || EVP_DigestFinal_ex(m_context.get(), digest, &length) != 1) return {};
  m_ok = false;
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string text;
  text.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    text.push_back(kDigits[digest[i] >> 4]);
    text.push_back(kDigits[digest[i] & 0x0F]);
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
