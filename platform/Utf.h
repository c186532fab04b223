#pragma once
// Conversions between the system's wide (UTF-16) text and the UTF-8 the operating system uses for
// file names, environment variables and the network.
#include <cstddef>
#include <string>
#include <string_view>

namespace platform {

// UTF-8 -> UTF-16. A text that does not decode (bad sequence, overlong form, surrogate) becomes empty.
std::u16string WidenUtf8(std::string_view utf8);

// UTF-16 -> UTF-8. An unpaired surrogate becomes U+FFFD.
std::string NarrowUtf8(std::u16string_view text);

// The same into a caller's fixed buffer, without allocating; the result is NUL-terminated.
// Returns false (and an empty buffer) when it does not fit.
bool NarrowUtf8To(std::u16string_view text, char* out, std::size_t capacity);

} // namespace platform
