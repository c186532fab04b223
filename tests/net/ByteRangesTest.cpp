// The reader of ranged answers, from canned answers: one range in the answer's own header, or the
// parts of a multipart/byteranges body, and every way such an answer can be wrong.
#include "net/ByteRanges.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

using net::CRangeReader;
using core::ByteRange;

// An answer made of bytes, handed out a few at a time so the framing arrives in pieces.
class CCannedAnswer : public net::IRangeAnswer {
 public:
  CCannedAnswer(std::int32_t status, std::map<std::string, std::string> headers, std::string body)
      : m_status(status), m_headers(std::move(headers)), m_body(std::move(body)) {}
  std::int32_t Status() const override { return m_status; }
  bool Header(std::string_view name, std::string& value) override {
    const auto at = m_headers.find(std::string(name));
    if (at == m_headers.end()) return false;
    value = at->second;
    return true;
  }
  bool Body(void* buffer, std::size_t size, std::uint32_t& n, platform::ErrorCode&) override {
    n = static_cast<std::uint32_t>(std::min({size, std::size_t{7}, m_body.size() - m_at}));
    std::memcpy(buffer, m_body.data() + m_at, n);
    m_at += n;
    return true;
  }

 private:
  std::int32_t m_status;
  std::map<std::string, std::string> m_headers;
  std::string m_body;
  std::size_t m_at = 0;
};

// Reads every part; false when the reader refused the answer somewhere.
bool ReadAll(CRangeReader& reader, std::uint64_t size, std::vector<std::pair<ByteRange, std::string>>& parts) {
  if (!reader.Begin(size)) return false;
  ByteRange part;
  while (reader.NextPart(part)) {
    std::string bytes;
    char buffer[64];
    std::uint32_t n = 0;
    do {
      if (!reader.Read(buffer, sizeof buffer, n)) return false;
      bytes.append(buffer, n);
    } while (n > 0);
    parts.emplace_back(part, bytes);
  }
  return reader.LastError() == 0 && reader.Done();
}

TEST(ByteRanges, AnswersTable) {
  const std::string multipart = "multipart/byteranges; boundary=XyZ";
  const std::string twoParts =
      "\r\n--XyZ\r\nContent-Type: application/octet-stream\r\nContent-Range: bytes 0-3/100\r\n\r\nabcd"
      "\r\n--XyZ\r\nContent-Range: bytes 90-99/100\r\n\r\n0123456789\r\n--XyZ--\r\n";
  struct Row {
    const char* name;
    std::int32_t status;
    std::map<std::string, std::string> headers;
    std::string body;
    bool valid;
    std::vector<std::pair<std::uint64_t, std::string>> parts;  // start and bytes of each part
  };
  const std::vector<Row> rows = {
      {"two parts", 206, {{"Content-Type", multipart}}, twoParts, true, {{0, "abcd"}, {90, "0123456789"}}},
      {"quoted boundary", 206, {{"Content-Type", "multipart/byteranges; boundary=\"XyZ\""}}, twoParts, true,
       {{0, "abcd"}, {90, "0123456789"}}},
      {"preamble", 206, {{"Content-Type", multipart}}, "This is a preamble.\r\n" + twoParts, true,
       {{0, "abcd"}, {90, "0123456789"}}},
      {"endless preamble", 206, {{"Content-Type", multipart}}, std::string(5000, 'p') + "\r\n" + twoParts, false, {}},
      {"blank lines before the first part", 206, {{"Content-Type", multipart}}, "\r\n\r\n" + twoParts, true,
       {{0, "abcd"}, {90, "0123456789"}}},
      {"part without Content-Range", 206, {{"Content-Type", multipart}},
       "--XyZ\r\nContent-Type: text/plain\r\n\r\nabcd\r\n--XyZ--\r\n", false, {}},
      {"part beyond the size", 206, {{"Content-Type", multipart}},
       "--XyZ\r\nContent-Range: bytes 98-101/100\r\n\r\nabcd\r\n--XyZ--\r\n", false, {}},
      {"total that is not the size", 206, {{"Content-Type", multipart}},
       "--XyZ\r\nContent-Range: bytes 0-3/200\r\n\r\nabcd\r\n--XyZ--\r\n", false, {}},
      {"body ending inside the framing", 206, {{"Content-Type", multipart}}, "--XyZ\r\nContent-Range: bytes 0-3/1", false,
       {}},
      {"body ending inside a part", 206, {{"Content-Type", multipart}}, "--XyZ\r\nContent-Range: bytes 0-3/100\r\n\r\nab",
       false, {}},
      {"no closing delimiter", 206, {{"Content-Type", multipart}}, "--XyZ\r\nContent-Range: bytes 0-3/100\r\n\r\nabcd",
       false, {}},
      {"single range", 206, {{"Content-Range", "bytes 10-14/100"}}, "hello", true, {{10, "hello"}}},
      {"single range of unknown total", 206, {{"Content-Range", "bytes 10-14/*"}}, "hello", true, {{10, "hello"}}},
      {"single range without Content-Range", 206, {}, "hello", false, {}},
      {"single range beyond the size", 206, {{"Content-Range", "bytes 98-102/100"}}, "hello", false, {}},
      {"the whole file instead", 200, {}, std::string(100, 'x'), false, {}},
  };
  for (const Row& row : rows) {
    CCannedAnswer answer(row.status, row.headers, row.body);
    CRangeReader reader(answer);
    std::vector<std::pair<ByteRange, std::string>> parts;
    EXPECT_EQ(ReadAll(reader, 100, parts), row.valid) << row.name;
    if (!row.valid) {
      EXPECT_EQ(reader.LastError(), platform::ERROR_HTTP_INVALID_SERVER_RESPONSE) << row.name;
      continue;
    }
    ASSERT_EQ(parts.size(), row.parts.size()) << row.name;
    for (std::size_t i = 0; i < parts.size(); ++i) {
      EXPECT_EQ(parts[i].first.start, row.parts[i].first) << row.name;
      EXPECT_EQ(parts[i].first.end, row.parts[i].first + row.parts[i].second.size()) << row.name;
      EXPECT_EQ(parts[i].second, row.parts[i].second) << row.name;
    }
  }
}

TEST(ByteRanges, RangeHeaders) {
  EXPECT_EQ(net::FormatRangesHeader({ByteRange{0, 4}, ByteRange{90, 100}}), u"Range: bytes=0-3,90-99");
  EXPECT_EQ(net::FormatRangeHeader(1000), u"Range:bytes=1000-");
}

} // namespace
