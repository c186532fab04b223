#include "download/Md5.h"

#include <algorithm>
#include <new>
#include <openssl/evp.h>

namespace download {

using namespace platform;

struct CMd5::Context {
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  Context() = default;
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  ~Context() { EVP_MD_CTX_free(md); }
};

CMd5::CMd5() {
  try {
    m_context = std::make_unique<Context>();
  } catch (const std::bad_alloc&) {
    return;  // not Ok
  }
  m_ok = m_context->md != nullptr && EVP_DigestInit_ex(m_context->md, EVP_md5(), nullptr) == 1;
}

CMd5::~CMd5() = default;

bool CMd5::Update(const void* data, std::size_t size) {
  m_ok = m_ok && EVP_DigestUpdate(m_context->md, data, size) == 1;
  return m_ok;
}

std::u16string CMd5::Finish() {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!m_ok || EVP_DigestFinal_ex(m_context->md, digest, &length) != 1) return {};
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

} // namespace download
