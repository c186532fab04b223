#include "core/Format.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace core {

namespace {

// Wide enough for a 53-bit mantissa times 10^18; a compiler extension on every target we build.
__extension__ typedef unsigned __int128 Wide;

// Where formatted code units go: a fixed buffer (extra units are dropped) or a growing text.
class Sink {
 public:
  Sink(char16_t* out, std::size_t capacity) : m_out(out), m_capacity(capacity) {}
  explicit Sink(std::u16string* text) : m_text(text) {}

  void Put(char16_t c) {
    if (m_text != nullptr) {
      m_text->push_back(c);
    } else if (m_length + 1 < m_capacity) {
      m_out[m_length++] = c;
    }
  }
  void Put(std::u16string_view s) {
    for (char16_t c : s) Put(c);
  }
  void PutAscii(const char* s, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) Put(static_cast<char16_t>(static_cast<unsigned char>(s[i])));
  }
  void Repeat(char16_t c, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) Put(c);
  }
  std::size_t Finish() {
    if (m_text != nullptr) return m_text->size();
    if (m_capacity > 0) m_out[m_length] = u'\0';
    return m_length;
  }

 private:
  char16_t* m_out = nullptr;
  std::size_t m_capacity = 0;
  std::size_t m_length = 0;
  std::u16string* m_text = nullptr;
};

struct Directive {
  bool leftAlign = false;
  bool zeroPad = false;
  bool plus = false;
  bool space = false;
  int width = 0;
  int precision = -1;
  bool wide64 = false;  // I64, ll or L
  char16_t conversion = 0;
};

using Kind = FormatArg::Kind;

bool IsInteger(Kind k) {
  return k == Kind::Int32 || k == Kind::UInt32 || k == Kind::Int64 || k == Kind::UInt64;
}

// Pads body (ASCII) to the field width; numeric zero padding goes after the sign.
void Emit(Sink& sink, const Directive& directive, const char* body, std::size_t length, bool numeric) {
  const std::size_t width = directive.width > 0 ? static_cast<std::size_t>(directive.width) : 0;
  const std::size_t pad = width > length ? width - length : 0;
  if (directive.leftAlign) {
    sink.PutAscii(body, length);
    sink.Repeat(u' ', pad);
  } else if (directive.zeroPad && numeric) {
    std::size_t signLength = (length > 0 && (body[0] == '-' || body[0] == '+' || body[0] == ' ')) ? 1 : 0;
    sink.PutAscii(body, signLength);
    sink.Repeat(u'0', pad);
    sink.PutAscii(body + signLength, length - signLength);
  } else {
    sink.Repeat(u' ', pad);
    sink.PutAscii(body, length);
  }
}

void EmitInteger(Sink& sink, const Directive& directive, bool negative, std::uint64_t magnitude, int base,
                 bool upper) {
  char digits[24];
  std::size_t n = 0;
  const char* table = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  do {
    digits[n++] = table[magnitude % static_cast<unsigned>(base)];
    magnitude /= static_cast<unsigned>(base);
  } while (magnitude != 0);
  if (directive.precision == 0 && n == 1 && digits[0] == '0') n = 0;
  char body[64];
  std::size_t length = 0;
  if (negative) body[length++] = '-';
  else if (directive.plus) body[length++] = '+';
  else if (directive.space) body[length++] = ' ';
  for (int i = static_cast<int>(n); i < directive.precision && length < 40; ++i) body[length++] = '0';
  while (n > 0) body[length++] = digits[--n];
  Directive effective = directive;
  if (directive.precision >= 0) effective.zeroPad = false;
  Emit(sink, effective, body, length, true);
}

#ifdef NDEBUG
std::atomic<bool> g_strict{false};
#else
std::atomic<bool> g_strict{true};
#endif

void Mismatch(Sink& sink) {
  if (g_strict.load(std::memory_order_relaxed)) std::abort();
  sink.Put(u"<?>");
}

void EmitOne(Sink& sink, const Directive& directive, const FormatArg* arg) {
  if (arg == nullptr) {
    Mismatch(sink);
    return;
  }
  const Kind kind = arg->kind();
  switch (directive.conversion) {
    case u'd':
    case u'i': {
      // A 64-bit argument in a 32-bit conversion could be cut: refuse it rather than guess.
      if (!IsInteger(kind) || (!directive.wide64 && (kind == Kind::Int64 || kind == Kind::UInt64))) {
        Mismatch(sink);
        return;
      }
      std::int64_t value;
      if (kind == Kind::Int32 || kind == Kind::Int64) {
        value = arg->asSigned();
      } else if (kind == Kind::UInt32 && !directive.wide64) {
        // An unsigned 32-bit code reads as the signed 32-bit number it is.
        value = static_cast<std::int32_t>(static_cast<std::uint32_t>(arg->asUnsigned()));
      } else {
        value = static_cast<std::int64_t>(arg->asUnsigned());
      }
      const bool negative = value < 0;
      const std::uint64_t magnitude =
          negative ? (~static_cast<std::uint64_t>(value) + 1u) : static_cast<std::uint64_t>(value);
      EmitInteger(sink, directive, negative, magnitude, 10, false);
      return;
    }
    case u'u':
    case u'x':
    case u'X': {
      if (!IsInteger(kind) || (!directive.wide64 && (kind == Kind::Int64 || kind == Kind::UInt64))) {
        Mismatch(sink);
        return;
      }
      std::uint64_t value = arg->asUnsigned();
      if (!directive.wide64) value = static_cast<std::uint32_t>(value);
      else if (kind == Kind::Int32) value = static_cast<std::uint64_t>(arg->asSigned());
      Directive unsignedDirective = directive;
      unsignedDirective.plus = unsignedDirective.space = false;
      EmitInteger(sink, unsignedDirective, false, value, directive.conversion == u'u' ? 10 : 16,
                  directive.conversion == u'X');
      return;
    }
    case u'f': {
      if (kind != Kind::Double) {
        Mismatch(sink);
        return;
      }
      char body[400];
      std::size_t length =
          FormatFixed(arg->asDouble(), directive.precision < 0 ? 6 : directive.precision, body, sizeof body);
      if (directive.plus && length < sizeof body - 1 && body[0] != '-') {
        std::memmove(body + 1, body, length);
        body[0] = '+';
        ++length;
      }
      Emit(sink, directive, body, length, true);
      return;
    }
    case u's': {
      if (kind != Kind::Text) {
        Mismatch(sink);
        return;
      }
      std::u16string_view text = arg->text();
      if (directive.precision >= 0 && text.size() > static_cast<std::size_t>(directive.precision))
        text = text.substr(0, static_cast<std::size_t>(directive.precision));
      const std::size_t width = directive.width > 0 ? static_cast<std::size_t>(directive.width) : 0;
      const std::size_t pad = width > text.size() ? width - text.size() : 0;
      if (!directive.leftAlign) sink.Repeat(u' ', pad);
      sink.Put(text);
      if (directive.leftAlign) sink.Repeat(u' ', pad);
      return;
    }
    case u'c': {
      if (kind != Kind::Char) {
        Mismatch(sink);
        return;
      }
      const std::size_t width = directive.width > 1 ? static_cast<std::size_t>(directive.width) - 1 : 0;
      if (!directive.leftAlign) sink.Repeat(u' ', width);
      sink.Put(static_cast<char16_t>(arg->asUnsigned()));
      if (directive.leftAlign) sink.Repeat(u' ', width);
      return;
    }
    default:
      Mismatch(sink);
  }
}

void Run(Sink& sink, std::u16string_view format, std::initializer_list<FormatArg> args) {
  const FormatArg* next = args.begin();
  const FormatArg* end = args.end();
  std::size_t i = 0;
  const std::size_t n = format.size();
  while (i < n) {
    const char16_t c = format[i++];
    if (c != u'%') {
      sink.Put(c);
      continue;
    }
    if (i >= n) {
      sink.Put(u'%');
      break;
    }
    if (format[i] == u'%') {
      sink.Put(u'%');
      ++i;
      continue;
    }
    const std::size_t start = i - 1;
    Directive directive;
    for (; i < n; ++i) {
      const char16_t f = format[i];
      if (f == u'-') directive.leftAlign = true;
      else if (f == u'0') directive.zeroPad = true;
      else if (f == u'+') directive.plus = true;
      else if (f == u' ') directive.space = true;
      else break;
    }
    while (i < n && format[i] >= u'0' && format[i] <= u'9' && directive.width < 10000)
      directive.width = directive.width * 10 + (format[i++] - u'0');
    if (i < n && format[i] == u'.') {
      ++i;
      directive.precision = 0;
      while (i < n && format[i] >= u'0' && format[i] <= u'9' && directive.precision < 10000)
        directive.precision = directive.precision * 10 + (format[i++] - u'0');
    }
    if (format.substr(i, 3) == u"I64") {
      directive.wide64 = true;
      i += 3;
    } else if (format.substr(i, 2) == u"ll") {
      directive.wide64 = true;
      i += 2;
    } else if (i < n && (format[i] == u'l' || format[i] == u'h' || format[i] == u'w')) {
      ++i;
    }
    if (i >= n) {
      sink.Put(format.substr(start));
      break;
    }
    directive.conversion = format[i++];
    switch (directive.conversion) {
      case u'd': case u'i': case u'u': case u'x': case u'X': case u'f': case u's': case u'c':
        EmitOne(sink, directive, next != end ? next++ : nullptr);
        break;
      default:
        // Not part of the dialect: written as it stands.
        sink.Put(format.substr(start, i - start));
    }
  }
}

} // namespace

void SetStrictFormatChecks(bool strict) { g_strict = strict; }

std::size_t FormatTo(char16_t* out, std::size_t capacity, std::u16string_view format,
                     std::initializer_list<FormatArg> args) {
  Sink sink(out, capacity);
  Run(sink, format, args);
  return sink.Finish();
}

std::u16string FormatArgs(std::u16string_view format, std::initializer_list<FormatArg> args) {
  std::u16string text;
  Sink sink(&text);
  Run(sink, format, args);
  return text;
}

std::size_t FormatFixed(double value, int precision, char* out, std::size_t capacity) {
  if (capacity == 0) return 0;
  if (precision < 0) precision = 6;
  // Exact integer arithmetic on the binary value: value = mantissa * 2^exponent, and the result is
  // floor(|value| * 10^precision + 1/2). The C library's "%.2f" would round halves to even.
  constexpr int kMaxExact = 18;
  const double magnitude = std::fabs(value);
  if (!std::isfinite(value) || precision > kMaxExact || magnitude >= 18446744073709551616.0) {
    // Integers too large for the exact path have no fraction to round; to_chars is exact for them.
    const auto converted = std::to_chars(out, out + capacity - 1, value, std::chars_format::fixed, precision);
    const std::size_t written = converted.ec == std::errc() ? static_cast<std::size_t>(converted.ptr - out) : 0;
    out[written] = '\0';
    return written;
  }
  int exponent = 0;
  const double fraction = std::frexp(magnitude, &exponent);  // magnitude = fraction * 2^exponent
  const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
  exponent -= 53;  // magnitude = mantissa * 2^exponent exactly
  Wide scaled = mantissa;
  Wide power = 1;
  for (int i = 0; i < precision; ++i) power *= 10;
  scaled *= power;
  Wide rounded;
  if (exponent >= 0) {
    rounded = scaled << exponent;  // below 2^64 * 10^18, fits
  } else {
    const int shift = -exponent;
    if (shift >= 127) {
      rounded = 0;
    } else {
      const Wide half = static_cast<Wide>(1) << (shift - 1);
      rounded = (scaled + half) >> shift;
    }
  }
  char digits[64];
  std::size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + static_cast<int>(rounded % 10));
    rounded /= 10;
  } while (rounded != 0);
  while (count <= static_cast<std::size_t>(precision)) digits[count++] = '0';
  char text[80];
  std::size_t length = 0;
  bool anyNonZero = false;
  for (std::size_t i = 0; i < count; ++i) anyNonZero |= digits[i] != '0';
  if (std::signbit(value) && anyNonZero) text[length++] = '-';
  for (std::size_t i = count; i-- > 0;) {
    text[length++] = digits[i];
    if (precision > 0 && i == static_cast<std::size_t>(precision)) text[length++] = '.';
  }
  const std::size_t written = std::min(length, capacity - 1);
  std::memcpy(out, text, written);
  out[written] = '\0';
  return written;
}

} // namespace core
