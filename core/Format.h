#pragma once
// The system's printf-style format dialect, type-checked:
//   %s wide text, %c wide character, %d / %ld / %i signed 32-bit (widths such as %02d),
//   %u and %x unsigned 32-bit, %I64d / %I64u 64-bit, %.2f with exact halves rounded up, %% one "%".
// Arguments are carried with their type; a conversion that does not match its argument writes a
// visible "<?>" marker instead of reading the wrong thing. Types that have no place in the dialect
// (narrow strings, bool, pointers) do not compile.
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace core {

class FormatArg {
 public:
  enum class Kind : std::uint8_t { Text, Char, Int32, UInt32, Int64, UInt64, Double };

  FormatArg(const char16_t* text) : m_kind(Kind::Text), m_text(text ? text : u"") {}
  FormatArg(std::u16string_view text) : m_kind(Kind::Text), m_text(text) {}
  FormatArg(const std::u16string& text) : m_kind(Kind::Text), m_text(text) {}
  FormatArg(char16_t c) : m_kind(Kind::Char) { m_value.u = c; }
  FormatArg(int v) : m_kind(Kind::Int32) { m_value.i = v; }
  FormatArg(unsigned v) : m_kind(Kind::UInt32) { m_value.u = v; }
  FormatArg(long v) : m_kind(sizeof(long) == 4 ? Kind::Int32 : Kind::Int64) { m_value.i = v; }
  FormatArg(unsigned long v) : m_kind(sizeof(long) == 4 ? Kind::UInt32 : Kind::UInt64) { m_value.u = v; }
  FormatArg(long long v) : m_kind(Kind::Int64) { m_value.i = v; }
  FormatArg(unsigned long long v) : m_kind(Kind::UInt64) { m_value.u = v; }
  FormatArg(double v) : m_kind(Kind::Double) { m_value.d = v; }

  FormatArg(const char*) = delete;
  FormatArg(const std::string&) = delete;
  FormatArg(char) = delete;
  FormatArg(bool) = delete;
  FormatArg(const void*) = delete;
  FormatArg(std::nullptr_t) = delete;

  Kind kind() const { return m_kind; }
  std::u16string_view text() const { return m_text; }
  std::int64_t asSigned() const { return m_value.i; }
  std::uint64_t asUnsigned() const { return m_value.u; }
  double asDouble() const { return m_value.d; }

 private:
  Kind m_kind;
  std::u16string_view m_text;
  union {
    std::int64_t i;
    std::uint64_t u;
    double d;
  } m_value{};
};

// Formats into a fixed buffer of capacity code units (NUL included): at most capacity - 1 are
// written, then a NUL. Returns the number written (without the NUL). Never allocates.
std::size_t FormatTo(char16_t* out, std::size_t capacity, std::u16string_view format,
                     std::initializer_list<FormatArg> args);

// Formats into a new text of any length.
std::u16string FormatArgs(std::u16string_view format, std::initializer_list<FormatArg> args);

template <typename... Args>
std::u16string Format(std::u16string_view format, const Args&... args) {
  return FormatArgs(format, {FormatArg(args)...});
}

// A conversion that does not match its argument is a programming error: in debug builds (and so in
// every test run under the sanitizers) it stops the program at once; release builds print "<?>".
// Tests that exercise the marker itself turn the check off.
void SetStrictFormatChecks(bool strict);

// "%.Nf" for one number with exact halves rounded up (away from zero), into a narrow buffer.
// Returns the length written. Never allocates.
std::size_t FormatFixed(double value, int precision, char* out, std::size_t capacity);

} // namespace core
