#pragma once
// Several byte ranges of one resource in one request: the Range header that asks for them, and the
// reader of the answer, whether the server sends them as parts of a multipart/byteranges body or, as
// it may, as one range that covers them all.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/HttpClient.h"

namespace net {

// [start, end) of the resource.
struct Range {
  std::uint64_t start = 0;
  std::uint64_t end = 0;
};

// "Range: bytes=a-b,c-d" for ranges in ascending order (the header's ends are inclusive).
std::u16string FormatRangesHeader(const std::vector<Range>& ranges);

// Reads the parts of a 206 answer that OpenUrl took; each part tells which bytes of the resource it
// carries. Anything that does not parse fails the read with ERROR_HTTP_INVALID_SERVER_RESPONSE.
class CRangeReader {
 public:
  explicit CRangeReader(CHttpClient& client) : m_client(client) {}
  // Reads the answer's headers; false when it is no 206 answer with ranges this reader knows.
  bool Begin(std::uint64_t resourceSize);
  // The next part; false at the end of the body (Done) or on a failure (LastError).
  bool NextPart(Range& part);
  // Up to size bytes of the current part; n = 0 at its end.
  bool Read(void* buffer, std::size_t size, std::uint32_t& n);
  bool Done() const { return m_bDone; }
  platform::ErrorCode LastError() const { return m_dwLastError; }

 private:
  bool Fail(platform::ErrorCode code);
  // Fills the buffer with at least one more byte of the body; false at its end or on a failure.
  bool More();
  // One line of the multipart framing, without its line end.
  bool ReadLine(std::string& line);

  CHttpClient& m_client;
  std::uint64_t m_nResourceSize = 0;
  std::string m_strBoundary;  // empty: the answer is one range
  bool m_bSinglePending = false;
  Range m_single;
  std::uint64_t m_nPartLeft = 0;
  bool m_bInPart = false;
  bool m_bDone = false;
  std::string m_buffer;
  std::size_t m_nAt = 0;
  platform::ErrorCode m_dwLastError = 0;
};

// Parses "bytes a-b/total" into [a, b + 1); false when it is not that or lies outside the resource.
bool ParseContentRange(std::string_view text, std::uint64_t resourceSize, Range& range);

} // namespace net
