// The signature check on OpenSSL.
#include "download/ListSignature.h"

#include <memory>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/params.h>

namespace download {

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

// The public key as OpenSSL's key object; null when the bytes are no point of P-256.
std::unique_ptr<EVP_PKEY, PkeyDeleter> ImportPublicKey(const std::vector<unsigned char>& point) {
  if (point.size() != kPublicKeySize || point[0] != 0x04) return nullptr;
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
  std::unique_ptr<EVP_PKEY, PkeyDeleter> key(raw);
  std::unique_ptr<EVP_PKEY_CTX, PkeyCtxDeleter> check(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
  if (!check || EVP_PKEY_public_check(check.get()) != 1) return nullptr;
  return key;
}

// r || s as the DER structure OpenSSL verifies.
bool ToDer(const std::vector<unsigned char>& raw, std::vector<unsigned char>& der) {
  if (raw.size() != kSignatureSize) return false;
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

bool VerifyListSignature(std::string_view data, const std::vector<unsigned char>& signature,
                         const std::vector<unsigned char>& publicKey) {
  const auto key = ImportPublicKey(publicKey);
  std::vector<unsigned char> der;
  if (!key || !ToDer(signature, der)) return false;
  std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> context(EVP_MD_CTX_new());
  return context && EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
         EVP_DigestVerify(context.get(), der.data(), der.size(), reinterpret_cast<const unsigned char*>(data.data()),
                          data.size()) == 1;
}

} // namespace download
