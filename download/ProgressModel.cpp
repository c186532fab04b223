#include "download/ProgressModel.h"

#include <algorithm>

#include "core/Text.h"
#include "platform/Utf.h"

namespace download {

namespace {

// The terminal's speed is that of the last few seconds.
constexpr std::uint32_t kSpeedWindowMs = 3000;
constexpr std::uint32_t kLeastSpeedSpanMs = 500;
// Records of one entry about this far apart measure its own speed.
constexpr std::uint32_t kEntrySpeedSpanMs = 1000;

} // namespace

CProgressModel::CProgressModel(const filelist::CFileList& list) : m_list(list) {
  m_prefix.reserve(list.m_vecFileInfo.size() + 1);
  m_prefix.push_back(0);
  for (const auto& info : list.m_vecFileInfo) m_prefix.push_back(m_prefix.back() + info.Size);
}

void CProgressModel::OnStart() {
  if (m_bStoppedByUser) {
    m_dwResumeBaseTime = m_dwLastStartTime;
    m_bStoppedByUser = false;
  }
}

void CProgressModel::OnStop(std::uint32_t now) {
  m_bStoppedByUser = true;
  m_bResumePending = true;
  m_dwStopTime = now;
}

ProgressFigures CProgressModel::Update(const DownloadProgress& p, std::uint32_t now) {
  const auto index = static_cast<std::uint32_t>(p.nFileIndex);

  // The terminal's count of bytes that came over the network: the growth of the current entry, or
  // what a new entry's first record holds beyond the part that was already on disk.
  if (!p.bVerified) {
    const bool sameEntry = m_bAnyRecord && index == m_nCurrentFile;
    const std::uint64_t from = sameEntry ? m_dwLastReceived : p.dwResumedFrom;
    m_transferred += p.dwReceived - std::min(p.dwReceived, from);
  }
  m_bAnyRecord = true;
  m_samples.push_back({now, m_transferred});
  while (m_samples.size() > 2 && now - m_samples.front().tick > kSpeedWindowMs) m_samples.pop_front();
  const std::uint32_t span = now - m_samples.front().tick;
  if (span >= kLeastSpeedSpanMs) m_recentSpeed = (m_transferred - m_samples.front().bytes) * 1000 / span;

  // The window's arithmetic. The first record of entry 0 counts as the same entry (the current
  // entry starts at 0), so its bytes are a delta.
  ProgressFigures f;
  f.index = p.nFileIndex;
  // The speed label: an entry's growth since its previous record, about a second before; where there
  // is no such record (a new entry, or records closer together, as when files take less than a second
  // each) the speed of the last seconds over all files, so the label never reads zero while bytes flow.
  const std::u16string recent =
      m_recentSpeed > 0 ? core::FormatSpeed(m_recentSpeed) : std::u16string(core::kUnmeasuredSpeed);
  std::u16string speed;
  if (index == m_nCurrentFile) {
    if (p.dwReceived > m_dwLastReceived) {
      const std::uint64_t delta = p.dwReceived - m_dwLastReceived;
      m_nDownloadedSize += delta;
      speed = now - m_dwLastRecordTick >= kEntrySpeedSpanMs ? core::FormatSpeed(delta) : recent;
    }
  } else {
    m_nDownloadedSize += p.dwReceived;
    speed = recent;
  }
  m_dwLastRecordTick = now;
  m_dwLastReceived = p.dwReceived;
  m_dwLastTotal = p.dwTotal;
  f.entryChanged = index != m_nCurrentFile;
  if (f.entryChanged) m_nCurrentFile = index;
  f.entryPercent = core::PercentOf(p.dwReceived, p.dwTotal);

  // The entry's elapsed time. After a resumed start, the stopped entry's time carries on: its first
  // record counts the time it had run, and its later records are timed from a start shifted to match.
  std::uint32_t start = p.dwStartTime;
  if (m_bShiftStart && p.dwStartTime == m_dwShiftedRecordStart) start = m_dwShiftedStart;
  else m_bShiftStart = false;
  m_dwLastStartTime = start;
  std::uint32_t e;
  if (m_bResumePending) {
    e = m_dwStopTime - m_dwResumeBaseTime;
    m_bShiftStart = true;
    m_dwShiftedRecordStart = p.dwStartTime;
    m_dwShiftedStart = now - e + 1000;
    m_bResumePending = false;
  } else {
    e = now - start;
  }
  // A record handled in the millisecond its entry began has no time to measure a speed by: its time
  // left stays as it was, but everything else it says is shown, or the window would keep a stale name
  // and total (an entry's only record is often such a one when files are small).
  if (e != 0) {
    // The bytes that took that time: after a stop in this session the entry's time carries on, so all
    // of them; an entry resumed from an earlier session's part, only those of this session.
    const std::uint64_t timed = m_bShiftStart ? p.dwReceived : p.dwReceived - std::min(p.dwReceived, p.dwResumedFrom);
    const auto bytesPerSecond = static_cast<std::uint64_t>(static_cast<double>(timed) / e * 1000.0);
    // A record may count more than its total (a server sending more than announced): nothing is left.
    const std::uint64_t remaining = p.dwTotal > p.dwReceived ? p.dwTotal - p.dwReceived : 0;
    const std::uint64_t secondsLeft = bytesPerSecond == 0 ? 0 : remaining / bytesPerSecond;
    const int hours = static_cast<int>((secondsLeft % 86400) / 3600);
    const int minutes = static_cast<int>((secondsLeft % 3600) / 60);
    std::int64_t seconds = static_cast<std::int64_t>(secondsLeft % 86400) - 3600LL * hours - 60LL * minutes;
    if (secondsLeft >= 86400) seconds = 0;
    f.timeLeft = core::FormatDuration(hours, minutes, static_cast<int>(seconds));
  }

  if (!p.bVerified) f.speed = std::move(speed);
  f.entryDone = core::FormatByteSize(p.dwReceived);
  if (f.entryChanged && index < m_list.m_vecFileInfo.size()) {
    f.entryName = platform::WidenUtf8(m_list.m_vecFileInfo[index].Name);
    f.entrySize = core::FormatByteSize(m_list.m_vecFileInfo[index].Size);
  }
  f.totalPercent = core::PercentOf(m_nDownloadedSize, m_list.m_nTotalSize);
  f.totalDone = core::FormatByteSize(m_nDownloadedSize);
  return f;
}

int CProgressModel::ListPercent() const {
  if (m_list.m_nTotalSize == 0) return 100;
  const std::size_t i = m_nCurrentFile;
  const std::uint64_t done = (i < m_prefix.size() ? m_prefix[i] : 0) + m_dwLastReceived;
  return core::PercentOf(done, m_list.m_nTotalSize);
}

std::optional<std::uint32_t> CProgressModel::ListSecondsLeft() const {
  const std::size_t i = m_nCurrentFile;
  const std::uint64_t done = (i < m_prefix.size() ? m_prefix[i] : 0) + m_dwLastReceived;
  if (m_recentSpeed == 0 || m_list.m_nTotalSize < done) return std::nullopt;
  return static_cast<std::uint32_t>((m_list.m_nTotalSize - done) / m_recentSpeed);
}

} // namespace download
