#include "net/ByteRanges.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

namespace net {

using namespace platform;

namespace {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
  return text;
}

bool ParseNumber(std::string_view text, std::uint64_t& value) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

// The boundary parameter of "multipart/byteranges; boundary=..." (quoted or not); empty when absent.
std::string BoundaryOf(std::string_view contentType) {
  const std::string lower = Lower(contentType);
  if (Trim(std::string_view(lower).substr(0, lower.find(';'))) != "multipart/byteranges") return {};
  const std::size_t at = lower.find("boundary=");
  if (at == std::string::npos) return {};
  std::string_view value = contentType.substr(at + 9);
  value = value.substr(0, value.find(';'));
  value = Trim(value);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
  return std::string(value);
}

// The answer a client took, as a range reader reads it.
class CClientAnswer : public IRangeAnswer {
 public:
  explicit CClientAnswer(CHttpClient& client) : m_client(client) {}
  std::int32_t Status() const override { return m_client.StatusCode(); }
  bool Header(std::string_view name, std::string& value) override { return m_client.ResponseHeader(name, value); }
  bool Body(void* buffer, std::size_t size, std::uint32_t& n, ErrorCode& error) override {
    if (m_client.ReadBody(buffer, size, n)) return true;
    error = m_client.LastError();
    return false;
  }

 private:
  CHttpClient& m_client;
};

// A preamble longer than this is no multipart answer of ranges.
constexpr std::size_t kLongestPreamble = 4096;

} // namespace

CRangeReader::CRangeReader(CHttpClient& client)
    : m_ownAnswer(std::make_unique<CClientAnswer>(client)), m_answer(*m_ownAnswer) {}

bool CRangeReader::Body(void* piece, std::size_t size, std::uint32_t& n) {
  ErrorCode error = ERROR_SUCCESS;
  if (m_answer.Body(piece, size, n, error)) return true;
  return Fail(error != ERROR_SUCCESS ? error : ERROR_HTTP_INVALID_SERVER_RESPONSE);
}

std::u16string FormatRangesHeader(const std::vector<core::ByteRange>& ranges) {
  std::string text = "Range: bytes=";
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    if (i > 0) text += ',';
    text += std::to_string(ranges[i].start) + '-' + std::to_string(ranges[i].end - 1);
  }
  return std::u16string(text.begin(), text.end());
}

bool ParseContentRange(std::string_view text, std::uint64_t resourceSize, core::ByteRange& range) {
  text = Trim(text);
  if (text.size() < 6 || Lower(text.substr(0, 6)) != "bytes ") return false;
  text.remove_prefix(6);
  const std::size_t dash = text.find('-');
  const std::size_t slash = text.find('/');
  if (dash == std::string_view::npos || slash == std::string_view::npos || slash < dash) return false;
  std::uint64_t first = 0;
  std::uint64_t last = 0;
  std::uint64_t total = 0;
  if (!ParseNumber(text.substr(0, dash), first) || !ParseNumber(text.substr(dash + 1, slash - dash - 1), last)) return false;
  // The total may be "*" (unknown); when given it must be the resource's size.
  const std::string_view totalText = text.substr(slash + 1);
  if (totalText != "*" && (!ParseNumber(totalText, total) || total != resourceSize)) return false;
  if (first > last || last >= resourceSize) return false;
  range = core::ByteRange{first, last + 1};
  return true;
}

bool CRangeReader::Fail(ErrorCode code) {
  m_dwLastError = code;
  return false;
}

bool CRangeReader::Begin(std::uint64_t resourceSize) {
  m_nResourceSize = resourceSize;
  if (m_answer.Status() != 206) return Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
  std::string contentType;
  m_answer.Header("Content-Type", contentType);
  m_strBoundary = BoundaryOf(contentType);
  if (!m_strBoundary.empty()) return true;
  // One range, said in the answer's own header.
  std::string contentRange;
  if (!m_answer.Header("Content-Range", contentRange) ||
      !ParseContentRange(contentRange, resourceSize, m_single))
    return Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
  m_bSinglePending = true;
  return true;
}

bool CRangeReader::More() {
  if (m_nAt > 0) {
    m_buffer.erase(0, m_nAt);
    m_nAt = 0;
  }
  char piece[HTTP_BUFFER_SIZE];
  std::uint32_t n = 0;
  if (!Body(piece, sizeof piece, n)) return false;
  if (n == 0) return Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);  // the body ended inside the framing
  m_buffer.append(piece, n);
  return true;
}

bool CRangeReader::ReadLine(std::string& line) {
  for (;;) {
    const std::size_t end = m_buffer.find('\n', m_nAt);
    if (end != std::string::npos) {
      line.assign(m_buffer, m_nAt, end - m_nAt);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      m_nAt = end + 1;
      return true;
    }
    // A framing line is short: a long one is no framing.
    if (m_buffer.size() - m_nAt > 4096) return Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
    if (!More()) return false;
  }
}

bool CRangeReader::NextPart(core::ByteRange& part) {
  if (m_bDone) return false;
  if (m_bInPart && m_nPartLeft > 0) return Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);  // the part was not read
  m_bInPart = false;
  if (m_strBoundary.empty()) {
    if (!m_bSinglePending) {
      m_bDone = true;
      return false;
    }
    m_bSinglePending = false;
    part = m_single;
    m_nPartLeft = part.end - part.start;
    m_bInPart = true;
    return true;
  }
  // The delimiter line (blank lines before it are the previous part's line end or a preamble).
  const std::string delimiter = "--" + m_strBoundary;
  std::string line;
  // Before the first part a preamble may come, which is not ours to read; after it, only blank lines.
  std::size_t preamble = 0;
  do {
    if (!ReadLine(line)) return false;
    if (!m_bPastPreamble && Trim(line) != delimiter && Trim(line) != delimiter + "--") {
      preamble += line.size() + 2;
      if (preamble > kLongestPreamble) return Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
      line.clear();
    }
  } while (Trim(line).empty());
  m_bPastPreamble = true;
  if (Trim(line) == delimiter + "--") {
    m_bDone = true;
    return false;
  }
  if (Trim(line) != delimiter) return Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
  bool ranged = false;
  for (;;) {
    if (!ReadLine(line)) return false;
    if (line.empty()) break;
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) return Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
    if (Lower(Trim(std::string_view(line).substr(0, colon))) == "content-range") {
      if (!ParseContentRange(std::string_view(line).substr(colon + 1), m_nResourceSize, part))
        return Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
      ranged = true;
    }
  }
  if (!ranged) return Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);
  m_nPartLeft = part.end - part.start;
  m_bInPart = true;
  return true;
}

bool CRangeReader::Read(void* buffer, std::size_t size, std::uint32_t& n) {
  n = 0;
  if (!m_bInPart || m_nPartLeft == 0 || size == 0) return true;
  const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>({size, m_nPartLeft, HTTP_BUFFER_SIZE}));
  if (m_nAt < m_buffer.size()) {
    const std::size_t take = std::min(want, m_buffer.size() - m_nAt);
    std::memcpy(buffer, m_buffer.data() + m_nAt, take);
    m_nAt += take;
    n = static_cast<std::uint32_t>(take);
  } else {
    // Straight from the transport: the part's bytes are the bulk of the body.
    if (!Body(buffer, want, n)) return false;
    if (n == 0) return Fail(ERROR_HTTP_INVALID_SERVER_RESPONSE);  // the body ended inside a part
  }
  m_nPartLeft -= n;
  return true;
}

} // namespace net
