// The publisher's keys and signatures on OpenSSL.
#include "Signing.h"

#include <fcntl.h>
#include <memory>
#include <openssl/bio.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "download/ListSignature.h"
#include "platform/Files.h"
#include "platform/Utf.h"

namespace filelisttool {

namespace {

struct PkeyDeleter {
  void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct BioDeleter {
  void operator()(BIO* p) const { BIO_free(p); }
};
struct MdCtxDeleter {
  void operator()(EVP_MD_CTX* p) const { EVP_MD_CTX_free(p); }
};
struct SigDeleter {
  void operator()(ECDSA_SIG* p) const { ECDSA_SIG_free(p); }
};

std::string ReadBio(BIO* bio) {
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio, &data);
  return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

bool WriteFile(const std::string& path, const std::string& bytes, std::string& error) {
  if (const auto code = platform::WriteFileAtomically(platform::WidenUtf8(path), bytes); code != 0) {
    error = "cannot write " + path + " (" + std::to_string(code) + ")";
    return false;
  }
  return true;
}

// The private key: created readable by its owner only, never visible to others for a moment.
bool WritePrivateFile(const std::string& path, const std::string& bytes, std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
  bool ok = fd >= 0 && ::fchmod(fd, 0600) == 0;
  for (std::size_t done = 0; ok && done < bytes.size();) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  if (fd >= 0 && ::close(fd) != 0) ok = false;
  if (!ok) error = "cannot write " + path;
  return ok;
}

} // namespace

bool GenerateKeyPair(const std::string& keyPath, std::string& error) {
  std::unique_ptr<EVP_PKEY, PkeyDeleter> key(EVP_EC_gen("P-256"));
  if (!key) {
    error = "cannot make a P-256 key";
    return false;
  }
  std::unique_ptr<BIO, BioDeleter> pem(BIO_new(BIO_s_mem()));
  if (!pem || PEM_write_bio_PrivateKey(pem.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
    error = "cannot write the private key";
    return false;
  }
  std::vector<unsigned char> point(download::kPublicKeySize);
  std::size_t length = 0;
  if (EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_ENCODED_PUBLIC_KEY, point.data(), point.size(),
                                      &length) != 1 ||
      length != download::kPublicKeySize) {
    error = "cannot read the public key";
    return false;
  }
  if (!WritePrivateFile(keyPath, ReadBio(pem.get()), error)) return false;
  return WriteFile(keyPath + ".pub", download::EncodeBase64(point.data(), point.size()) + "\n", error);
}

bool SignDocument(const std::string& keyPath, const std::string& document, std::string& signature,
                  std::string& error) {
  std::unique_ptr<BIO, BioDeleter> file(BIO_new_file(keyPath.c_str(), "r"));
  std::unique_ptr<EVP_PKEY, PkeyDeleter> key(file ? PEM_read_bio_PrivateKey(file.get(), nullptr, nullptr, nullptr)
                                                  : nullptr);
  if (!key || EVP_PKEY_get_bits(key.get()) != 256 || !EVP_PKEY_is_a(key.get(), "EC")) {
    error = "cannot read a P-256 private key from " + keyPath;
    return false;
  }
  std::unique_ptr<EVP_MD_CTX, MdCtxDeleter> context(EVP_MD_CTX_new());
  std::size_t size = 0;
  if (!context || EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
      EVP_DigestSign(context.get(), nullptr, &size, reinterpret_cast<const unsigned char*>(document.data()),
                     document.size()) != 1) {
    error = "cannot sign";
    return false;
  }
  std::vector<unsigned char> der(size);
  if (EVP_DigestSign(context.get(), der.data(), &size, reinterpret_cast<const unsigned char*>(document.data()),
                     document.size()) != 1) {
    error = "cannot sign";
    return false;
  }
  const unsigned char* in = der.data();
  std::unique_ptr<ECDSA_SIG, SigDeleter> sig(d2i_ECDSA_SIG(nullptr, &in, static_cast<long>(size)));
  unsigned char raw[download::kSignatureSize];
  if (!sig || BN_bn2binpad(ECDSA_SIG_get0_r(sig.get()), raw, 32) != 32 ||
      BN_bn2binpad(ECDSA_SIG_get0_s(sig.get()), raw + 32, 32) != 32) {
    error = "cannot sign";
    return false;
  }
  signature = download::EncodeBase64(raw, sizeof raw) + "\n";
  return true;
}

} // namespace filelisttool
