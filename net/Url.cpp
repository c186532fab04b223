#include "net/Url.h"

#include "platform/Utf.h"

namespace net {

namespace {

bool IsUnreserved(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
         c == '_' || c == '~';
}

} // namespace

std::u16string EncodeUrlPath(std::u16string_view name) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  const std::string bytes = platform::NarrowUtf8(name);
  std::u16string out;
  out.reserve(bytes.size());
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (IsUnreserved(c) || c == '/') {
      out.push_back(static_cast<char16_t>(c));
    } else {
      out.push_back(u'%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0x0F]);
    }
  }
  return out;
}

} // namespace net
