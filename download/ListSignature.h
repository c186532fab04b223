#pragma once
// The signature of a file-list document: ECDSA over P-256 of the SHA-256 of the document's exact
// bytes. The signature travels as base64 of the 64 bytes r||s; a public key as base64 of the
// uncompressed point (65 bytes, 0x04 || X || Y). Both are what ordinary tools can make and read.
#include <string>
#include <string_view>
#include <vector>

#include "platform/Crypto.h"

namespace download {

// Standard base64 with padding; whitespace around the text is ignored. False for anything else.
bool DecodeBase64(std::string_view text, std::vector<unsigned char>& out);
std::string EncodeBase64(const unsigned char* data, std::size_t size);

constexpr std::size_t kSignatureSize = platform::kP256SignatureSize;  // r || s, 32 bytes each
constexpr std::size_t kPublicKeySize = platform::kP256PublicKeySize;  // 0x04 || X || Y

// True when signature is a valid signature of data by the key. A key or signature of the wrong size,
// or a key that is not a point of the curve, verifies nothing.
bool VerifyListSignature(std::string_view data, const std::vector<unsigned char>& signature,
                         const std::vector<unsigned char>& publicKey);

} // namespace download
