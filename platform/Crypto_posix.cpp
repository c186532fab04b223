// The system's cryptography on OpenSSL (EVP).
#include "platform/Crypto.h"

#include <new>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

namespace platform {

namespace {

struct PkeyDeleter {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct PkeyCtxDeleter {
  void operator()(EVP_PKEY_CTX* p) const { EVP_PKEY_CTX_free(p); }
};
struct MdCtxDeleter {
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
struct SigDeleter {
  void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
};
struct BioDeleter {
  void operator()(BIO* p) const { BIO_free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyDeleter>;

// The public key as OpenSSL's key object; null when the bytes are no point of P-256.
Pkey ImportPublicKey(const std::vector<unsigned char>& point) {
  if (point.size() != kP256PublicKeySize || point[0] != 0x04) return nullptr;
  char group[] = "prime256v1";
  std::vector<unsigned char> bytes = point;
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
      OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, bytes.data(), bytes.size()),
      OSSL_PARAM_construct_end(),
  };
  std::unique_ptr<EVP_PKEY_CTX, PkeyCtxDeleter> context(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
  EVP_PKEY* raw = nullptr;
  if (!context || EVP_PKEY_fromdata_init(context.get()) != 1 ||
      EVP_PKEY_fromdata(context.get(), &raw, EVP_PKEY_PUBLIC_KEY, params) != 1)
    return nullptr;
  Pkey key(raw);
  std::unique_ptr<EVP_PKEY_CTX, PkeyCtxDeleter> check(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  if (!check || EVP_PKEY_public_check(check.get()) != 1) return nullptr;
  return key;
}

// r || s as the DER structure OpenSSL verifies.
bool ToDer(const std::vector<unsigned char>& raw, std::vector<unsigned char>& der) {
  if (raw.size() != kP256SignatureSize) return false;
  std::unique_ptr<ECDSA_SIG, SigDeleter> sig(ECDSA_SIG_new());
  BIGNUM* r = BN_bin2bn(raw.data(), 32, nullptr);
  BIGNUM* s = BN_bin2bn(raw.data() + 32, 32, nullptr);
  if (!sig || r == nullptr || s == nullptr || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return false;
  }
  const int length = i2d_ECDSA_SIG(sig.get(), nullptr);
  if (length <= 0) return false;
  der.resize(static_cast<std::size_t>(length));
  unsigned char* out = der.data();
  return i2d_ECDSA_SIG(sig.get(), &out) == length;
}

} // namespace

struct CMd5Digest::Context {
  EVP_MD_CTX* md = EVP_MD_CTX_new();
  Context() = default;
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  ~Context() { EVP_MD_CTX_free(md); }
};

CMd5Digest::CMd5Digest() {
  try {
    m_context = std::make_unique<Context>();
  } catch (const std::bad_alloc&) {
    return;  // not Ok
  }
  m_ok = m_context->md != nullptr && EVP_DigestInit_ex(m_context->md, EVP_md5(), nullptr) == 1;
}

CMd5Digest::~CMd5Digest() = default;

bool CMd5Digest::Update(const void* data, std::size_t size) {
  m_ok = m_ok && EVP_DigestUpdate(m_context->md, data, size) == 1;
  return m_ok;
}

bool CMd5Digest::Finish(unsigned char (&digest)[16]) {
  unsigned int length = 0;
  const bool ok = m_ok && EVP_DigestFinal_ex(m_context->md, digest, &length) == 1 && length == 16;
  m_ok = false;
  return ok;
}

struct CSha256Hasher::Context {
  std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> md{EVP_MD_CTX_new()};
  EVP_MD* sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);  // fetched once, not per piece
  Context() = default;
  Context(const Context&) = delete;
  Context& operator=(const Context&) = delete;
  ~Context() { EVP_MD_free(sha256); }
};

CSha256Hasher::CSha256Hasher() {
  try {
    m_context = std::make_unique<Context>();
  } catch (const std::bad_alloc&) {
    return;  // not Ok
  }
  m_ok = m_context->md != nullptr && m_context->sha256 != nullptr;
}

CSha256Hasher::~CSha256Hasher() = default;

bool CSha256Hasher::Digest(const void* data, std::size_t size, unsigned char (&digest)[32]) {
  unsigned int length = 0;
  return m_ok && EVP_DigestInit_ex(m_context->md.get(), m_context->sha256, nullptr) == 1 &&
         EVP_DigestUpdate(m_context->md.get(), data, size) == 1 &&
         EVP_DigestFinal_ex(m_context->md.get(), digest, &length) == 1 && length == 32;
}

bool VerifyP256(std::string_view data, const std::vector<unsigned char>& signature,
                const std::vector<unsigned char>& publicKey) {
  const Pkey key = ImportPublicKey(publicKey);
  std::vector<unsigned char> der;
  if (!key || !ToDer(signature, der)) return false;
  std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> context(EVP_MD_CTX_new());
  return context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
         EVP_DigestVerify(context.get(), der.data(), der.size(), reinterpret_cast<const unsigned char*>(data.data()),
                          data.size()) == 1;
}

bool GenerateP256(std::vector<unsigned char>& privateKey, std::vector<unsigned char>& publicKey) {
  const Pkey key(EVP_EC_gen("P-256"));
  if (!key) return false;
  std::unique_ptr<BIO, BioDeleter> der(BIO_new(BIO_s_mem()));
  if (!der || i2d_PKCS8PrivateKey_bio(der.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) return false;
  char* bytes = nullptr;
  const long size = BIO_get_mem_data(der.get(), &bytes);
  if (size <= 0) return false;
  privateKey.assign(bytes, bytes + size);
  publicKey.assign(kP256PublicKeySize, 0);
  std::size_t length = 0;
  return EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, publicKey.data(),
                                         publicKey.size(), &length) == 1 &&
         length == kP256PublicKeySize;
}

bool SignP256(const std::vector<unsigned char>& privateKey, std::string_view data,
              std::vector<unsigned char>& signature) {
  const unsigned char* in = privateKey.data();
  const Pkey key(d2i_AutoPrivateKey(nullptr, &in, static_cast<long>(privateKey.size())));
  // P-256 only: another 256-bit curve (secp256k1, say) signs what no downloader can verify.
  char curve[64] = {};
  std::size_t curveLength = 0;
  if (!key || !EVP_PKEY_is_a(key.get(), "EC") ||
      EVP_PKEY_get_group_name(key.get(), curve, sizeof curve, &curveLength) != 1 ||
      std::string_view(curve, curveLength) != SN_X9_62_prime256v1)
    return false;
  std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> context(EVP_MD_CTX_new());
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  std::size_t size = 0;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &size, bytes, data.size()) != 1)
    return false;
  std::vector<unsigned char> der(size);
  if (EVP_DigestSign(context.get(), der.data(), &size, bytes, data.size()) != 1) return false;
  const unsigned char* derIn = der.data();
  std::unique_ptr<ECDSA_SIG, SigDeleter> sig(d2i_ECDSA_SIG(nullptr, &derIn, static_cast<long>(size)));
  signature.assign(kP256SignatureSize, 0);
  return sig && BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), signature.data(), 32) == 32 &&
         BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), signature.data() + 32, 32) == 32;
}

} // namespace platform
