#pragma once
// Several byte ranges of one resource in one request: the Range header that asks for them, and the
// reader of the answer, whether the server sends them as parts of a multipart/byteranges body or, as
// it may, as one range that covers them all.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/ByteRange.h"
#include "net/HttpClient.h"

namespace net {

// "Range: bytes=a-b,c-d" for ranges in ascending order (the header's ends are inclusive).
std::u16string FormatRangesHeader(const std::vector<core::ByteRange>& ranges);

// What a range reader reads: an answer's status, its headers and its body, from the network or, in
// a test, from canned bytes.
class IRangeAnswer {
 public:
  virtual ~IRangeAnswer() = default;
  virtual std::int32_t Status() const = 0;
  // A header of the answer; false when it has none.
  virtual bool Header(std::string_view name, std::string& value) = 0;
  // Up to size bytes of the body; n = 0 at its end. False with the failure's code.
  virtual bool Body(void* buffer, std::size_t size, std::uint32_t& n, platform::ErrorCode& error) = 0;
};

// Reads the parts of a 206 answer; each part tells which bytes of the resource it carries.
// Anything that does not parse fails the read with ERROR_HTTP_INVALID_SERVER_RESPONSE.
class CRangeReader {
 public:
  // The answer that OpenUrl took.
  explicit CRangeReader(CHttpClient& client);
  explicit CRangeReader(IRangeAnswer& answer) : m_answer(answer) {}
  // Reads the answer's headers; false when it is no 206 answer with ranges this reader knows.
  bool Begin(std::uint64_t resourceSize);
  // The next part; false at the end of the body (Done) or on a failure (LastError).
  bool NextPart(core::ByteRange& part);
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

  // Reads the body into piece; a failure is recorded.
  bool Body(void* piece, std::size_t size, std::uint32_t& n);

  std::unique_ptr<IRangeAnswer> m_ownAnswer;  // the client's answer, when made from a client
  IRangeAnswer& m_answer;
  std::uint64_t m_nResourceSize = 0;
  std::string m_strBoundary;  // empty: the answer is one range
  bool m_bSinglePending = false;
  core::ByteRange m_single;
  std::uint64_t m_nPartLeft = 0;
  bool m_bInPart = false;
  bool m_bDone = false;
  bool m_bPastPreamble = false;
  std::string m_buffer;
  std::size_t m_nAt = 0;
  platform::ErrorCode m_dwLastError = 0;
};

// Parses "bytes a-b/total" into [a, b + 1); false when it is not that or lies outside the resource.
bool ParseContentRange(std::string_view text, std::uint64_t resourceSize, core::ByteRange& range);

} // namespace net
