#pragma once
// The system's cryptography, as the downloader and its tools use it: streaming MD5 of files, and
// ECDSA over P-256 with SHA-256 for signed file lists. OpenSSL on Linux, CNG on Windows.
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

class CMd5Digest {
 public:
  CMd5Digest();
  ~CMd5Digest();
  CMd5Digest(const CMd5Digest&) = delete;
  CMd5Digest& operator=(const CMd5Digest&) = delete;
  // False when the digest could not be set up or fed; the object is then unusable.
  bool Ok() const { return m_ok; }
  bool Update(const void* data, std::size_t size);
  // The 16 bytes of the digest; false on failure. Ends the object's use.
  bool Finish(unsigned char (&digest)[16]);

 private:
  struct Context;
  std::unique_ptr<Context> m_context;
  bool m_ok = false;
};

// SHA-256 of many short pieces one after another (the blocks of a file): set up once, so each
// piece costs only its hashing.
class CSha256Hasher {
 public:
  CSha256Hasher();
  ~CSha256Hasher();
  CSha256Hasher(const CSha256Hasher&) = delete;
  CSha256Hasher& operator=(const CSha256Hasher&) = delete;
  bool Ok() const { return m_ok; }
  // The digest of one piece; false on failure.
  bool Digest(const void* data, std::size_t size, unsigned char (&digest)[32]);

 private:
  struct Context;
  std::unique_ptr<Context> m_context;
  bool m_ok = false;
};

constexpr std::size_t kP256SignatureSize = 64;  // r || s, 32 bytes each
constexpr std::size_t kP256PublicKeySize = 65;  // 0x04 || X || Y

// True when signature (r || s) is a valid signature of data's SHA-256 by publicKey (an uncompressed
// point). A key or signature of the wrong size, or a key off the curve, verifies nothing.
bool VerifyP256(std::string_view data, const std::vector<unsigned char>& signature,
                const std::vector<unsigned char>& publicKey);

// A new key pair: the private key as PKCS#8 DER (PrivateKeyInfo), the public key as its point.
bool GenerateP256(std::vector<unsigned char>& privateKey, std::vector<unsigned char>& publicKey);

// r || s of data's SHA-256 by a PKCS#8 DER private key; false when it holds no P-256 key.
bool SignP256(const std::vector<unsigned char>& privateKey, std::string_view data,
              std::vector<unsigned char>& signature);

} // namespace platform
