// The signature check through the system's cryptography (CNG): SHA-256 of the document, then ECDSA
// P-256 verification of r||s against the key imported from its uncompressed point.
#include "download/ListSignature.h"

#include <vector>
#include <windows.h>
#include <bcrypt.h>

namespace download {

namespace {

bool Sha256(std::string_view data, unsigned char (&digest)[32]) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) return false;
  BCRYPT_HASH_HANDLE hash = nullptr;
  bool ok = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0)) &&
            BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
                                          static_cast<ULONG>(data.size()), 0)) &&
            BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof digest, 0));
  if (hash != nullptr) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
}

} // namespace

bool VerifyListSignature(std::string_view data, const std::vector<unsigned char>& signature,
                         const std::vector<unsigned char>& publicKey) {
  if (signature.size() != kSignatureSize || publicKey.size() != kPublicKeySize || publicKey[0] != 0x04) return false;
  unsigned char digest[32];
  if (!Sha256(data, digest)) return false;
  // A public key blob: the header, then X and Y.
  std::vector<unsigned char> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
  auto* header = reinterpret_cast<BCRYPT_ECCKEY_BLOB*>(blob.data());
  header->dwMagic = BCRYPT_ECDSA_PUBLIC_P256_MAGIC;
  header->cbKey = 32;
  std::copy(publicKey.begin() + 1, publicKey.end(), blob.begin() + sizeof(BCRYPT_ECCKEY_BLOB));
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0))) return false;
  BCRYPT_KEY_HANDLE key = nullptr;
  bool ok = BCRYPT_SUCCESS(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, blob.data(),
                                               static_cast<ULONG>(blob.size()), 0));
  if (ok) {
    ok = BCRYPT_SUCCESS(BCryptVerifySignature(key, nullptr, digest, sizeof digest,
                                              const_cast<PUCHAR>(signature.data()),
                                              static_cast<ULONG>(signature.size()), 0));
    BCryptDestroyKey(key);
  }
  BCryptCloseAlgorithmProvider(algorithm, 0);
  return ok;
}

} // namespace download
