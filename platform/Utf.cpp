#include "platform/Utf.h"

#include <cstdint>

namespace platform {

namespace {

// Decodes one code point from UTF-16 at i; advances i. Unpaired surrogates give U+FFFD.
char32_t NextCodePoint(std::u16string_view text, std::size_t& i) {
  const char16_t c = text[i++];
  if (c >= 0xD800 && c <= 0xDBFF) {
    if (i < text.size() && text[i] >= 0xDC00 && text[i] <= 0xDFFF) {
      const char16_t low = text[i++];
      return 0x10000 + ((static_cast<char32_t>(c) - 0xD800) << 10) + (low - 0xDC00);
    }
    return 0xFFFD;
  }
  if (c >= 0xDC00 && c <= 0xDFFF) return 0xFFFD;
  return c;
}

// Writes the UTF-8 form of cp to out; returns the number of bytes (1..4).
int EncodeUtf8(char32_t cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

} // namespace

std::u16string WidenUtf8(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b0 = static_cast<std::uint8_t>(utf8[i]);
    char32_t cp;
    int extra;
    if (b0 < 0x80) {
      cp = b0;
      extra = 0;
    } else if ((b0 & 0xE0) == 0xC0) {
      cp = b0 & 0x1F;
      extra = 1;
    } else if ((b0 & 0xF0) == 0xE0) {
      cp = b0 & 0x0F;
      extra = 2;
    } else if ((b0 & 0xF8) == 0xF0) {
      cp = b0 & 0x07;
      extra = 3;
    } else {
      return {};
    }
    if (i + static_cast<std::size_t>(extra) >= utf8.size()) return {};
    for (int k = 1; k <= extra; ++k) {
      const auto b = static_cast<std::uint8_t>(utf8[i + static_cast<std::size_t>(k)]);
      if ((b & 0xC0) != 0x80) return {};
      cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr char32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {};
    i += static_cast<std::size_t>(extra) + 1;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

std::string NarrowUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  char bytes[4];
  for (std::size_t i = 0; i < text.size();) {
    const int n = EncodeUtf8(NextCodePoint(text, i), bytes);
    out.append(bytes, static_cast<std::size_t>(n));
  }
  return out;
}

bool NarrowUtf8To(std::u16string_view text, char* out, std::size_t capacity) {
  if (capacity == 0) return false;
  std::size_t used = 0;
  char bytes[4];
  for (std::size_t i = 0; i < text.size();) {
    const int n = EncodeUtf8(NextCodePoint(text, i), bytes);
    if (used + static_cast<std::size_t>(n) + 1 > capacity) {
      out[0] = '\0';
      return false;
    }
    for (int k = 0; k < n; ++k) out[used++] = bytes[k];
  }
  out[used] = '\0';
  return true;
}

} // namespace platform
