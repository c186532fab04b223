// The system's cryptography through CNG. A P-256 private key in PKCS#8 has one fixed layout (the one
// OpenSSL writes too): the secret and the public point sit at fixed places between fixed bytes, so
// the key is made and read here without a DER library.
#include "platform/Crypto.h"

#include <algorithm>
#include <new>

#include <windows.h>
#include <bcrypt.h>

namespace platform {

namespace {

// SEQUENCE { 0, { ecPublicKey, prime256v1 }, OCTET STRING { SEQUENCE { 1, OCTET STRING d, [1] point } } }
const unsigned char kPrefix[] = {0x30, 0x81, 0x87, 0x02, 0x01, 0x00, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86,
                                 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d,
                                 0x03, 0x01, 0x07, 0x04, 0x6d, 0x30, 0x6b, 0x02, 0x01, 0x01, 0x04, 0x20};
const unsigned char kMiddle[] = {0xa1, 0x44, 0x03, 0x42, 0x00};
constexpr std::size_t kKeySize = sizeof kPrefix + 32 + sizeof kMiddle + kP256PublicKeySize;

class CAlgorithm {
 public:
  explicit CAlgorithm(LPCWSTR name) {
    if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&m_handle, name, nullptr, 0))) m_handle = nullptr;
  }
  ~CAlgorithm() {
    if (m_handle != nullptr) BCryptCloseAlgorithmProvider(m_handle, 0);
  }
  CAlgorithm(const CAlgorithm&) = delete;
  CAlgorithm& operator=(const CAlgorithm&) = delete;
  BCRYPT_ALG_HANDLE Get() const { return m_handle; }

 private:
  BCRYPT_ALG_HANDLE m_handle = nullptr;
};

class CKey {
 public:
  CKey() = default;
  ~CKey() {
    if (m_handle != nullptr) BCryptDestroyKey(m_handle);
  }
  CKey(const CKey&) = delete;
  CKey& operator=(const CKey&) = delete;
  BCRYPT_KEY_HANDLE* Out() { return &m_handle; }
  BCRYPT_KEY_HANDLE Get() const { return m_handle; }

 private:
  BCRYPT_KEY_HANDLE m_handle = nullptr;
};

bool Sha256(std::string_view data, unsigned char (&digest)[32]) {
  const CAlgorithm algorithm(BCRYPT_SHA256_ALGORITHM);
  BCRYPT_HASH_HANDLE hash = nullptr;
  const bool ok = algorithm.Get() != nullptr &&
                  BCRYPT_SUCCESS(BCryptCreateHash(algorithm.Get(), &hash, nullptr, 0, nullptr, 0, 0)) &&
                  BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                                                static_cast<ULONG>(data.size()), 0)) &&
                  BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0));
  if (hash != nullptr) BCryptDestroyHash(hash);
  return ok;
}

} // namespace

// A provider and a hash object of it, closed together.
struct HashHandles {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  BCRYPT_HASH_HANDLE hash = nullptr;
  HashHandles() = default;
  HashHandles(const HashHandles&) = delete;
  HashHandles& operator=(const HashHandles&) = delete;
  ~HashHandles() {
    if (hash != nullptr) BCryptDestroyHash(hash);
    if (algorithm != nullptr) BCryptCloseAlgorithmProvider(algorithm, 0);
  }
};

struct CMd5Digest::Context : HashHandles {};

CMd5Digest::CMd5Digest() {
  try {
    m_context = std::make_unique<Context>();
  } catch (const std::bad_alloc&) {
    return;  // not Ok
  }
  m_ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&m_context->algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0)) &&
         BCRYPT_SUCCESS(BCryptCreateHash(m_context->algorithm, &m_context->hash, nullptr, 0, nullptr, 0, 0));
}

CMd5Digest::~CMd5Digest() = default;

bool CMd5Digest::Update(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  while (m_ok && size > 0) {
    const ULONG chunk = static_cast<ULONG>(size > 0x40000000 ? 0x40000000 : size);
    m_ok = BCRYPT_SUCCESS(BCryptHashData(m_context->hash, const_cast<PUCHAR>(bytes), chunk, 0));
    bytes += chunk;
    size -= chunk;
  }
  return m_ok;
}

bool CMd5Digest::Finish(unsigned char (&digest)[16]) {
  const bool ok = m_ok && BCRYPT_SUCCESS(BCryptFinishHash(m_context->hash, digest, sizeof digest, 0));
  m_ok = false;
  return ok;
}

// One provider and one reusable hash object for every piece.
struct CSha256Hasher::Context : HashHandles {};

CSha256Hasher::CSha256Hasher() {
  try {
    m_context = std::make_unique<Context>();
  } catch (const std::bad_alloc&) {
    return;  // not Ok
  }
  m_ok = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&m_context->algorithm, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                    BCRYPT_HASH_REUSABLE_FLAG)) &&
         BCRYPT_SUCCESS(BCryptCreateHash(m_context->algorithm, &m_context->hash, nullptr, 0, nullptr, 0,
                                         BCRYPT_HASH_REUSABLE_FLAG));
}

CSha256Hasher::~CSha256Hasher() = default;

bool CSha256Hasher::Digest(const void* data, std::size_t size, unsigned char (&digest)[32]) {
  // A reusable hash starts over after each finish.
  return m_ok &&
         BCRYPT_SUCCESS(BCryptHashData(m_context->hash, static_cast<PUCHAR>(const_cast<void*>(data)),
                                       static_cast<ULONG>(size), 0)) &&
         BCRYPT_SUCCESS(BCryptFinishHash(m_context->hash, digest, sizeof digest, 0));
}

bool VerifyP256(std::string_view data, const std::vector<unsigned char>& signature,
                const std::vector<unsigned char>& publicKey) {
  if (signature.size() != kP256SignatureSize || publicKey.size() != kP256PublicKeySize || publicKey[0] != 0x04)
    return false;
  unsigned char digest[32];
  if (!Sha256(data, digest)) return false;
  // A public key blob: the header, then X and Y.
  std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
  auto* header = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
  header->dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  header->cbKey = 32;
  std::copy(publicKey.begin() + 1, publicKey.end(), blob.begin() + sizeof(BCRYPT_ECCKEY_BLOB));
  const CAlgorithm algorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  CKey key;
  return algorithm.Get() != nullptr &&
         BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, key.Out(), blob.data(),
                                            static_cast<ULONG>(blob.size()), 0)) &&
         BCRYPT_SUCCESS(BCryptVerifySignature(key.Get(), nullptr, digest, sizeof digest,
                                              const_cast<PUCHAR>(signature.data()),
                                              static_cast<ULONG>(signature.size()), 0));
}

bool GenerateP256(std::vector<unsigned char>& privateKey, std::vector<unsigned char>& publicKey) {
  const CAlgorithm algorithm(BCRYPT_ECDSA_P256_ALGORITHM);
  CKey key;
  if (algorithm.Get() == nullptr || !BCRYPT_SUCCESS(BCryptGenerateKeyPair(algorithm.Get(), key.Out(), 256, 0)) ||
      !BCRYPT_SUCCESS(BCryptFinalizeKeyPair(key.Get(), 0)))
    return false;
  // The private blob: header, X, Y, d.
  std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 96);
  ULONG size = 0;
  if (!BCRYPT_SUCCESS(BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, blob.data(),
                                      static_cast<ULONG>(blob.size()), &size, 0)))
    return false;
  const unsigned char* x = blob.data() + sizeof(BCRYPT_ECCKEY_BLOB);
  publicKey.assign(1, 0x04);
  publicKey.insert(publicKey.end(), x, x + 64);
  privateKey.assign(std::begin(kPrefix), std::end(kPrefix));
  privateKey.insert(privateKey.end(), x + 64, x + 96);
  privateKey.insert(privateKey.end(), std::begin(kMiddle), std::end(kMiddle));
  privateKey.insert(privateKey.end(), publicKey.begin(), publicKey.end());
  return true;
}

bool SignP256(const std::vector<unsigned char>& privateKey, std::string_view data,
              std::vector<unsigned char>& signature) {
  if (privateKey.size() != kKeySize || !std::equal(std::begin(kPrefix), std::end(kPrefix), privateKey.begin()) ||
      !std::equal(std::begin(kMiddle), std::end(kMiddle), privateKey.begin() + sizeof kPrefix + 32))
    return false;
  std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 96);
  auto* header = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
  header->dwMagic = BCRYPT_ECDSA_PRIVATE_P256_MAGIC;
  header->cbKey = 32;
  const unsigned char* d = privateKey.data() + sizeof kPrefix;
  const unsigned char* xy = d + 32 + sizeof kMiddle + 1;
  std::copy(xy, xy + 64, blob.begin() + sizeof(BCRYPT_ECCKEY_BLOB));
  std::copy(d, d + 32, blob.begin() + sizeof(BCRYPT_ECCKEY_BLOB) + 64);
  const CAlgorithm ecdsa(BCRYPT_ECDSA_P256_ALGORITHM);
  CKey key;
  unsigned char digest[32];
  signature.assign(kP256SignatureSize, 0);
  ULONG size = 0;
  return ecdsa.Get() != nullptr && Sha256(data, digest) &&
         BCRYPT_SUCCESS(BCryptImportKeyPair(ecdsa.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, key.Out(), blob.data(),
                                            static_cast<ULONG>(blob.size()), 0)) &&
         BCRYPT_SUCCESS(BCryptSignHash(key.Get(), nullptr, digest, sizeof digest, signature.data(),
                                       static_cast<ULONG>(signature.size()), &size, 0)) &&
         size == kP256SignatureSize;
}

} // namespace platform
