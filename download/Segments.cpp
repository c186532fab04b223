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
  m_nPieceSize = PieceSizeFor(m_job.size);
  for (std::uint64_t start = 0; start < m_job.size; start += m_nPieceSize)
    m_pieces.push_back(Piece{start, std::min(m_job.size, start + m_nPieceSize), start});
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
    const std::optional<Failure> failed = FetchPiece(connection, server, index, noRanges);
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

CSegmentedFetch::State CSegmentedFetch::Wait(std::uint32_t ms, std::uint64_t& received, std::uint64_t& prefix) {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait_for(lock, std::chrono::milliseconds(ms));
  received = 0;
  prefix = 0;
  bool gap = false;
  bool done = true;
  for (const Piece& piece : m_pieces) {
    received += piece.at - piece.start;
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
  RemoveFile(m_job.recordPath);
  RemoveFile(m_job.partPath);
}

} // namespace download
