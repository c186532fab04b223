#pragma once
// Bytes [start, end) of a file or a resource: what a patch still needs, what a request asks for and
// what an answer's part carries.
#include <cstdint>

namespace core {

struct ByteRange {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  std::uint64_t Length() const { return end - start; }
  bool operator==(const ByteRange& other) const { return start == other.start && end == other.end; }
};

} // namespace core
