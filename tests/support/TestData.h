#pragma once
// Test content: reproducible bytes, and their digest in the file list's form.
#include <cstdint>
#include <string>

#include "download/Md5.h"
#include "platform/Utf.h"

namespace testsupport {

// size bytes that differ with seed and look random enough for a transfer.
inline std::string Pattern(std::size_t size, unsigned seed = 1) {
  std::string bytes(size, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (char& c : bytes) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

inline std::string Md5Of(const std::string& bytes) {
  download::CMd5 md5;
  md5.Update(bytes.data(), bytes.size());
  return platform::NarrowUtf8(md5.Finish());
}

} // namespace testsupport
