#include "download/ListSignature.h"

namespace download {

namespace {

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

} // namespace

bool DecodeBase64(std::string_view text, std::vector<unsigned char>& out) {
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  out.clear();
  if (text.empty() || text.size() % 4 != 0) return false;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    int v[4];
    int padding = 0;
    for (int j = 0; j < 4; ++j) {
      const char c = text[i + static_cast<std::size_t>(j)];
      // Padding only at the very end, and only in the last one or two places.
      if (c == '=' && i + 4 == text.size() && j >= 2 && (j == 3 || text[i + 3] == '=')) {
        v[j] = 0;
        ++padding;
        continue;
      }
      if (padding > 0 || (v[j] = Base64Value(c)) < 0) return false;
    }
    const unsigned triple = (static_cast<unsigned>(v[0]) << 18) | (static_cast<unsigned>(v[1]) << 12) |
                            (static_cast<unsigned>(v[2]) << 6) | static_cast<unsigned>(v[3]);
    out.push_back(static_cast<unsigned char>(triple >> 16));
    if (padding < 2) out.push_back(static_cast<unsigned char>(triple >> 8));
    if (padding < 1) out.push_back(static_cast<unsigned char>(triple));
  }
  return true;
}

std::string EncodeBase64(const unsigned char* data, std::size_t size) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  text.reserve((size + 2) / 3 * 4);
  for (std::size_t i = 0; i < size; i += 3) {
    const unsigned a = data[i];
    const unsigned b = i + 1 < size ? data[i + 1] : 0;
    const unsigned c = i + 2 < size ? data[i + 2] : 0;
    const unsigned triple = (a << 16) | (b << 8) | c;
    text.push_back(kAlphabet[(triple >> 18) & 63]);
    text.push_back(kAlphabet[(triple >> 12) & 63]);
    text.push_back(i + 1 < size ? kAlphabet[(triple >> 6) & 63] : '=');
    text.push_back(i + 2 < size ? kAlphabet[triple & 63] : '=');
  }
  return text;
}

bool VerifyListSignature(std::string_view data, const std::vector<unsigned char>& signature,
                         const std::vector<unsigned char>& publicKey) {
  return platform::VerifyP256(data, signature, publicKey);
}

} // namespace download
