// MD5 through the system's cryptography (CNG).
#include "download/Md5.h"

#include <new>
#include <windows.h>
#include <bcrypt.h>

namespace download {

using namespace platform;

struct CMd5::Context {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  Context() = default;
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  ~Context() {
    if (hash != nullptr) BCryptDestroyHash(hash);
    if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

CMd5::CMd5() {
  try {
    m_context = std::make_unique<Context>();
  } catch (const std::bad_alloc&) {
    return;  // not Ok
  }
  m_ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&m_context->algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0)) &&
         BCRYPT_SUCCESS(BCryptCreateHash(m_context->algorithm, &m_context->hash, nullptr, 0, nullptr, 0, 0));
}

CMd5::~CMd5() = default;

bool CMd5::Update(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (m_ok && size > 0) {
    const ULONG chunk = static_cast<ULONG>(size > 0x40000000 ? 0x40000000 : size);
    m_ok = BCRYPT_SUCCESS(BCryptHashData(m_context->hash, const_cast<PUCHAR>(bytes), chunk, 0));
    bytes += chunk;
    size -= chunk;
  }
  return m_ok;
}

std::u16string CMd5::Finish() {
  unsigned char digest[16];
  if (!m_ok || !BCRYPT_SUCCESS(BCryptFinishHash(m_context->hash, digest, sizeof digest, 0))) return {};
  m_ok = false;
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  std::u16string text;
  text.reserve(32);
  for (unsigned char byte : digest) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

} // namespace download
