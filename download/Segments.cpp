#include "download/Segments.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <string_view>

#include "net/ByteRanges.h"
#include "platform/Files.h"
#include "platform/Utf.h"

namespace download {

using namespace platform;

namespace {

constexpr std::string_view kRecordMagic = "valdris-part 1";
// Ranges of a patch asked for in one request: a Range header of about a kilobyte, which servers take.
constexpr std::size_t kRangesPerPiece = 48;
// A record is a few lines and a number per piece; anything larger is not one.
constexpr std::size_t kLargestRecord = 64 * 1024;

bool ReadSmallFile(std::u16string_view path, std::string& text) {
  CFileHandle file;
  if (file.Open(path, OpenMode::ReadExisting) != ERROR_SUCCESS) return false;
  text.clear();
  char buffer[4096];
  for (;;) {
    std::size_t got = 0;
    if (file.Read(buffer, sizeof buffer, got) != ERROR_SUCCESS) return false;
    if (got == 0) return true;
    text.append(buffer, got);
    if (text.size() > kLargestRecord) return false;
  }
}

// The next line of text, without its end; false when none is left.
bool NextLine(std::string_view& text, std::string_view& line) {
  if (text.empty()) return false;
  const std::size_t end = text.find('\n');
  line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  return true;
}

bool ParseValue(std::string_view line, std::string_view key, std::string_view& value) {
  if (line.size() <= key.size() + 1 || line.substr(0, key.size()) != key || line[key.size()] != ' ') return false;
  value = line.substr(key.size() + 1);
  return true;
}

bool ParseNumber(std::string_view text, std::uint64_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

} // namespace

std::u16string PartPathOf(std::u16string_view localPath) { return std::u16string(localPath) + u".valdris-part"; }
std::u16string PartRecordPathOf(std::u16string_view localPath) { return std::u16string(localPath) + u".valdris-part.record"; }

std::uint64_t PieceSizeFor(std::uint64_t size) {
  constexpr std::uint64_t kUnit = 64 * 1024;
  const auto units = [](std::uint64_t bytes) { return (bytes + kUnit - 1) / kUnit * kUnit; };
  // Small enough that the digest, which follows the gap-free start, never lags far behind the
  // connections; few enough for the record to stay small whatever the file's size.
  const std::uint64_t wanted = std::clamp<std::uint64_t>(units(size / 24), kUnit, 4 * 1024 * 1024);
  return std::max(wanted, units(size / 4096));
}

CSegmentedFetch::CSegmentedFetch(Job job, CServerSet& servers, std::vector<Connection> connections,
                                 std::function<std::uint32_t()> tick)
    : m_job(std::move(job)), m_servers(servers), m_connections(std::move(connections)), m_tick(std::move(tick)) {
  if (!m_job.ranges.empty()) {
    // About one piece per connection, so that a patch's ranges come in one round of requests.
    std::uint64_t total = 0;
    for (const core::ByteRange& range : m_job.ranges) total += range.Length();
    const std::uint64_t count = std::max<std::size_t>(1, m_connections.size());
    m_nPieceSize = std::clamp<std::uint64_t>((total + count - 1) / count, 64 * 1024, 4 * 1024 * 1024);
    Piece piece;
    std::uint64_t bytes = 0;
    const auto close = [&] {
      if (piece.ranges.empty()) return;
      piece.start = piece.at = piece.ranges.front().start;
      piece.end = piece.ranges.back().end;
      m_pieces.push_back(std::move(piece));
      piece = Piece();
      bytes = 0;
    };
    for (core::ByteRange range : m_job.ranges) {
      while (range.start < range.end) {
        const std::uint64_t take = std::min(range.Length(), m_nPieceSize - bytes);
        piece.ranges.push_back(core::ByteRange{range.start, range.start + take});
        range.start += take;
        bytes += take;
        if (bytes == m_nPieceSize || piece.ranges.size() == kRangesPerPiece) close();
      }
    }
    close();
    return;
  }
  m_nPieceSize = PieceSizeFor(m_job.size);
  for (std::uint64_t start = 0; start < m_job.size; start += m_nPieceSize)
    m_pieces.push_back(Piece{start, std::min(m_job.size, start + m_nPieceSize), start, false, 0, {}});
}

std::uint64_t CSegmentedFetch::Piece::Done() const {
  if (ranges.empty()) return at - start;
  std::uint64_t done = 0;
  for (const core::ByteRange& range : ranges) done += std::clamp(at, range.start, range.end) - range.start;
  return done;
}

CSegmentedFetch::~CSegmentedFetch() {
  const bool started = m_bStarted;
  Stop();
  // What the connections wrote stays for the next run, named by the record.
  if (started) Checkpoint();
}

void CSegmentedFetch::Stop() {
  m_bRunning = false;
  m_changed.notify_all();
  for (std::thread& thread : m_threads) thread.join();
  m_threads.clear();
  m_bStarted = false;
}

bool CSegmentedFetch::LoadRecord() {
  if (m_job.recordPath.empty()) return false;
  std::string text;
  if (!ReadSmallFile(m_job.recordPath, text)) return false;
  std::string_view rest(text);
  std::string_view line;
  std::string_view value;
  std::uint64_t size = 0;
  std::uint64_t pieceSize = 0;
  if (!NextLine(rest, line) || line != kRecordMagic) return false;
  if (!NextLine(rest, line) || !ParseValue(line, "size", value) || !ParseNumber(value, size) || size != m_job.size) return false;
  if (!NextLine(rest, line) || !ParseValue(line, "md5", value) || value != m_job.checksum) return false;
  if (!NextLine(rest, line) || !ParseValue(line, "piece", value) || !ParseNumber(value, pieceSize) ||
      pieceSize != m_nPieceSize)
    return false;
  std::vector<std::uint64_t> ats;
  while (NextLine(rest, line)) {
    std::uint64_t at = 0;
    if (line.empty()) continue;
    if (!ParseNumber(line, at)) return false;
    ats.push_back(at);
  }
  if (ats.size() != m_pieces.size()) return false;
  for (std::size_t i = 0; i < ats.size(); ++i)
    if (ats[i] < m_pieces[i].start || ats[i] > m_pieces[i].end) return false;
  // The part file must be the one the record speaks of: made at the file's full size.
  std::uint64_t partSize = 0;
  ErrorCode error = ERROR_SUCCESS;
  if (QueryPath(m_job.partPath, partSize, error) != PathKind::File || error != ERROR_SUCCESS || partSize != m_job.size)
    return false;
  for (std::size_t i = 0; i < ats.size(); ++i) m_pieces[i].at = ats[i];
  return true;
}

std::optional<Failure> CSegmentedFetch::Prepare(std::uint64_t& kept) {
  kept = 0;
  if (!m_job.ranges.empty()) {
    // A patch's file: what it holds stays, and it takes the new version's size.
    CFileHandle part;
    ErrorCode code = part.Open(m_job.partPath, OpenMode::WriteAlways, Sharing::Shared);
    if (code == ERROR_SUCCESS) code = part.SetSize(m_job.size);
    if (code != ERROR_SUCCESS) return Failure::Create(code, m_job.partPath);
    return std::nullopt;
  }
  if (LoadRecord()) {
    for (const Piece& piece : m_pieces) kept += piece.at - piece.start;
    return std::nullopt;
  }
  // Without a record, only what one stream brought before is kept.
  for (Piece& piece : m_pieces) piece.at = std::clamp(m_job.prefix, piece.start, piece.end);
  for (const Piece& piece : m_pieces) kept += piece.at - piece.start;
  CFileHandle part;
  ErrorCode code = part.Open(m_job.partPath, m_job.prefix > 0 ? OpenMode::WriteAlways : OpenMode::WriteTruncate,
                             Sharing::Shared);
  if (code == ERROR_SUCCESS) code = part.SetSize(m_job.size);
  if (code != ERROR_SUCCESS) return Failure::Create(code, m_job.partPath);
  part.Close();
  Checkpoint();
  return std::nullopt;
}

void CSegmentedFetch::Start() {
  const std::lock_guard<std::mutex> lock(m_mutex);
  m_bStarted = true;
  std::size_t left = 0;
  for (const Piece& piece : m_pieces) left += piece.at < piece.end ? 1 : 0;
  for (std::size_t i = 0; i < m_connections.size() && i < left; ++i) {
    ++m_nActive;
    m_threads.emplace_back([this, connection = m_connections[i]] { Connect(connection); });
  }
}

void CSegmentedFetch::Connect(Connection connection) {
  connection.client->SetRunningFlag(&m_bRunning);
  connection.client->SetBodySink(connection.sink);
  for (;;) {
    std::size_t index = 0;
    std::size_t server = 0;
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      if (!m_bRunning.load() || m_bFailed || m_bNoRanges) break;
      const auto next = std::find_if(m_pieces.begin(), m_pieces.end(),
                                     [](const Piece& piece) { return !piece.active && piece.at < piece.end; });
      if (next == m_pieces.end()) break;
      index = static_cast<std::size_t>(next - m_pieces.begin());
      const std::optional<std::size_t> chosen = m_servers.Acquire(next->tried | m_job.exclude, true, true);
      if (!chosen) {
        // Every server has failed this piece, or none takes ranges.
        bool anyRanges = false;
        for (std::size_t i = 0; i < m_servers.Count(); ++i)
          anyRanges = anyRanges || ((m_job.exclude & MaskOf(i)) == 0 && !m_servers.IgnoresRanges(i));
        if (!anyRanges) m_bNoRanges = true;
        else m_bFailed = true;
        m_bRunning = false;
        break;
      }
      server = *chosen;
      next->active = true;
    }
    bool noRanges = false;
    const std::optional<Failure> failed = m_pieces[index].ranges.empty()
                                              ? FetchPiece(connection, server, index, noRanges)
                                              : FetchRanges(connection, server, index, noRanges);
    std::unique_lock<std::mutex> lock(m_mutex);
    Piece& piece = m_pieces[index];
    piece.active = false;
    if (!failed) {
      m_servedBy |= MaskOf(server);
      m_changed.notify_all();
      continue;
    }
    if (failed->Stopped()) break;
    if (noRanges) continue;  // that server is skipped from now on
    // Too many connections for the server: this one leaves and another takes the piece.
    if (failed->Busy() && m_nActive > 1) break;
    if (failed->ServerOrNetwork()) piece.tried |= MaskOf(server);
    // With one server nothing is asked again by itself; with more, another one gets the piece.
    const bool untried = failed->ServerOrNetwork() && m_servers.Count() > 1 &&
                         ((piece.tried | m_job.exclude) & m_servers.All()) != m_servers.All();
    if (untried) continue;
    if (!m_bFailed) m_failure = *failed;
    m_bFailed = true;
    m_bRunning = false;
    break;
  }
  // The flag goes with this fetch; the client stays with the run.
  connection.client->SetRunningFlag(nullptr);
  const std::lock_guard<std::mutex> lock(m_mutex);
  --m_nActive;
  m_changed.notify_all();
}

std::optional<Failure> CSegmentedFetch::FetchPiece(Connection connection, std::size_t server, std::size_t index,
                                                   bool& noRanges) {
  net::CHttpClient& client = *connection.client;
  net::IBodySink& sink = *connection.sink;
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  {
    const std::lock_guard<std::mutex> lock(m_mutex);
    start = m_pieces[index].at;
    end = m_pieces[index].end;
  }
  const std::uint32_t asked = m_tick();
  std::uint64_t length = 0;
  const auto release = [&](CServerSet::Outcome outcome, std::uint64_t bytes = 0) {
    m_servers.Release(server, outcome, bytes, m_tick() - asked);
  };
  if (!client.OpenUrl(m_servers.AddressOf(server, m_job.name), net::FormatRangesHeader({core::ByteRange{start, end}}), length,
                      net::kDownloaderUserAgent)) {
    if (!m_bRunning.load()) {
      release(CServerSet::Outcome::Answered);
      return Failure::Stop();
    }
    const Failure failure = Failure::Connect(client);
    release(failure.Busy() ? CServerSet::Outcome::Busy : CServerSet::Outcome::Failed);
    return failure;
  }
  {
    const std::uint32_t waited = m_tick() - asked;
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_quickestAnswerMs = std::min(m_quickestAnswerMs.value_or(waited), waited);
  }
  // The whole file instead of the piece: this server takes no ranges, and its body is not read.
  if (client.StatusCode() == 200) {
    noRanges = true;
    release(CServerSet::Outcome::NoRanges);
    return Failure::BadAnswer(200);
  }
  std::string contentRange;
  core::ByteRange range;
  if (!client.ResponseHeader("Content-Range", contentRange) || !net::ParseContentRange(contentRange, m_job.size, range) ||
      range.start != start || range.end != end || length != end - start) {
    release(CServerSet::Outcome::Failed);
    return Failure::BadAnswer(client.StatusCode());
  }
  if (const ErrorCode code = sink.OpenAt(m_job.partPath, start); code != ERROR_SUCCESS) {
    release(CServerSet::Outcome::Answered);
    return Failure::Create(code, m_job.partPath);
  }
  std::optional<Failure> failure;
  for (;;) {
    std::uint32_t n = 0;
    if (!client.ReadToFile(n)) {
      failure = m_bRunning.load() ? Failure::Receive(client.LastError(), m_job.partPath) : Failure::Stop();
      break;
    }
    if (n == 0) break;
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_pieces[index].at = start + sink.Written();
  }
  // What arrived is the piece's start: it stays, whatever ended the body.
  const ErrorCode closed = sink.Close();
  const std::uint64_t written = sink.Written();
  {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_pieces[index].at = start + written;
  }
  if (!failure && closed != ERROR_SUCCESS) failure = Failure::Receive(closed, m_job.partPath);
  if (!failure && start + written < end) failure = Failure::Receive(ERROR_INTERNET_CONNECTION_ABORTED, m_job.partPath);
  if (failure && failure->ServerOrNetwork()) release(CServerSet::Outcome::Failed);
  else release(CServerSet::Outcome::Answered, written);
  return failure;
}

std::optional<Failure> CSegmentedFetch::FetchRanges(Connection connection, std::size_t server, std::size_t index,
                                                    bool& noRanges) {
  net::CHttpClient& client = *connection.client;
  net::IBodySink& sink = *connection.sink;
  std::vector<core::ByteRange> asked;
  std::uint64_t end = 0;
  {
    const std::lock_guard<std::mutex> lock(m_mutex);
    const Piece& piece = m_pieces[index];
    for (const core::ByteRange& range : piece.ranges)
      if (range.end > piece.at) asked.push_back(core::ByteRange{std::max(range.start, piece.at), range.end});
    end = piece.end;
  }
  const std::uint32_t askedAt = m_tick();
  std::uint64_t length = 0;
  std::uint64_t written = 0;
  const auto release = [&](CServerSet::Outcome outcome) {
    m_servers.Release(server, outcome, outcome == CServerSet::Outcome::Answered ? written : 0, m_tick() - askedAt);
  };
  if (!client.OpenUrl(m_servers.AddressOf(server, m_job.name), net::FormatRangesHeader(asked), length,
                      net::kDownloaderUserAgent)) {
    if (!m_bRunning.load()) {
      release(CServerSet::Outcome::Answered);
      return Failure::Stop();
    }
    const Failure failure = Failure::Connect(client);
    release(failure.Busy() ? CServerSet::Outcome::Busy : CServerSet::Outcome::Failed);
    return failure;
  }
  {
    const std::uint32_t waited = m_tick() - askedAt;
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_quickestAnswerMs = std::min(m_quickestAnswerMs.value_or(waited), waited);
  }
  if (client.StatusCode() == 200) {
    noRanges = true;
    release(CServerSet::Outcome::NoRanges);
    return Failure::BadAnswer(200);
  }
  // Each part is written where it belongs. Parts come in order: one that starts past the first
  // byte still wanted means the server left bytes out. (A part may cover more than was asked: those
  // are the new version's bytes too.)
  const auto advance = [&](std::uint64_t to) {
    const std::lock_guard<std::mutex> lock(m_mutex);
    Piece& piece = m_pieces[index];
    piece.at = std::max(piece.at, std::min(end, to));
    return piece.at;
  };
  net::CRangeReader reader(client);
  std::optional<Failure> failure;
  bool read = reader.Begin(m_job.size);
  std::size_t next = 0;  // the first asked range not yet whole
  core::ByteRange part;
  while (read && !failure && reader.NextPart(part)) {
    const std::uint64_t at = advance(0);
    while (next < asked.size() && asked[next].end <= at) ++next;
    if (next == asked.size()) break;
    if (part.start > std::max(at, asked[next].start)) {
      failure = Failure::BadAnswer(client.StatusCode());
      break;
    }
    if (const ErrorCode code = sink.OpenAt(m_job.partPath, part.start); code != ERROR_SUCCESS) {
      failure = Failure::Create(code, m_job.partPath);
      break;
    }
    for (;;) {
      std::size_t room = 0;
      char* const into = sink.Room(room);
      std::uint32_t n = 0;
      if (!reader.Read(into, std::min(room, net::HTTP_BUFFER_SIZE), n)) {
        read = false;
        break;
      }
      if (const ErrorCode code = sink.Commit(n); code != ERROR_SUCCESS) {
        failure = Failure::Write(code, m_job.partPath);
        break;
      }
      if (n == 0) break;
      advance(part.start + sink.Written());
    }
    const ErrorCode closed = sink.Close();
    written += sink.Written();
    advance(part.start + sink.Written());
    if (!failure && closed != ERROR_SUCCESS) failure = Failure::Write(closed, m_job.partPath);
  }
  if (!failure && (!read || reader.LastError() != ERROR_SUCCESS)) {
    const ErrorCode error = reader.LastError() != ERROR_SUCCESS ? reader.LastError() : ERROR_HTTP_INVALID_SERVER_RESPONSE;
    failure = m_bRunning.load() ? Failure::Receive(error, m_job.partPath) : Failure::Stop();
  }
  if (!failure && advance(0) < end) failure = Failure::BadAnswer(client.StatusCode());
  release(failure && failure->ServerOrNetwork() ? CServerSet::Outcome::Failed : CServerSet::Outcome::Answered);
  return failure;
}

CSegmentedFetch::State CSegmentedFetch::Wait(std::uint32_t ms, std::uint64_t& received, std::uint64_t& prefix) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait_for(lock, std::chrono::milliseconds(ms));
  received = 0;
  prefix = 0;
  bool gap = false;
  bool done = true;
  for (const Piece& piece : m_pieces) {
    received += piece.Done();
    if (!gap) prefix = piece.at;
    gap = gap || piece.at < piece.end;
    done = done && piece.at == piece.end;
  }
  if (done) return State::Done;
  if (m_nActive > 0) return State::Running;
  if (m_bNoRanges) return State::NoRanges;
  if (m_bFailed) return State::Failed;
  // Every connection left (busy servers) with pieces still to fetch: that is a failure of the last.
  if (m_failure.code == 0) m_failure = Failure::BadAnswer(503);
  return State::Failed;
}

void CSegmentedFetch::Checkpoint() {
  if (m_job.recordPath.empty()) return;
  // The record names only bytes the connections have handed to the file system, which keeps them
  // whatever becomes of this process. (A power cut may still lose some: the whole digest, checked
  // before the part replaces anything, then finds them, and the file is fetched again.)
  std::vector<std::uint64_t> ats;
  {
    const std::lock_guard<std::mutex> lock(m_mutex);
    for (const Piece& piece : m_pieces) ats.push_back(piece.at);
  }
  // A record that cannot be written costs the next run the pieces it would have named, nothing more.
  std::string text(kRecordMagic);
  text += "\nsize " + std::to_string(m_job.size) + "\nmd5 " + m_job.checksum + "\npiece " + std::to_string(m_nPieceSize) + "\n";
  for (const std::uint64_t at : ats) text += std::to_string(at) + "\n";
  WriteFileAtomically(m_job.recordPath, text);
}

std::optional<std::uint32_t> CSegmentedFetch::QuickestAnswerMs() const {
  const std::lock_guard<std::mutex> lock(m_mutex);
  return m_quickestAnswerMs;
}

ServerMask CSegmentedFetch::ServedBy() const {
  const std::lock_guard<std::mutex> lock(m_mutex);
  return m_servedBy;
}

void CSegmentedFetch::Discard() {
  Stop();
  if (!m_job.recordPath.empty()) RemoveFile(m_job.recordPath);
  RemoveFile(m_job.partPath);
}

} // namespace download
