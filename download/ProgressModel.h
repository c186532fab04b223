#pragma once
// What a front end shows of a run, computed from the worker's progress records and a clock, in one
// place for every front end: the current entry's percentage, bytes, speed and time left as the
// window shows them, the bytes done of the whole list and its percentage, and the terminal's
// speed of the last seconds with the time left for the whole list.
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "download/Messages.h"
#include "filelist/FileList.h"

namespace download {

// The window's figures after one record.
struct ProgressFigures {
  bool entryChanged = false;  // the record is of another entry than the previous one
  std::int32_t index = 0;
  std::optional<std::u16string> speed;  // the speed label's new text, when the record sets it
  int entryPercent = 0;
  std::u16string entryDone;   // bytes done of the entry
  std::optional<std::u16string> entryName;  // for a changed entry of the list: its name
  std::optional<std::u16string> entrySize;  // ... and its listed size
  std::optional<std::u16string> timeLeft;  // "%02d:%02d:%02d" of the entry's time left, when measurable
  int totalPercent = 0;
  std::u16string totalDone;   // bytes done of the list, as counted by the records
};

class CProgressModel {
 public:
  explicit CProgressModel(const filelist::CFileList& list);

  // A record arrives at the tick `now`.
  ProgressFigures Update(const DownloadProgress& record, std::uint32_t now);

  // A run starts; after a user stop, the stopped entry's time carries on from where it was.
  void OnStart();
  // The user stopped the run at the tick `now`.
  void OnStop(std::uint32_t now);
  // The list is complete: the count of bytes done starts again.
  void OnComplete() { m_nDownloadedSize = 0; }

  std::uint64_t DownloadedSize() const { return m_nDownloadedSize; }

  // The terminal's view: the index, bytes and size of the current entry, the bytes that came over
  // the network in the last three seconds per second, the whole list's percentage (entries before
  // the current one count as done) and its time left at that speed (nullopt while unmeasured).
  std::int32_t CurrentIndex() const { return static_cast<std::int32_t>(m_nCurrentFile); }
  std::uint64_t CurrentReceived() const { return m_dwLastReceived; }
  std::uint64_t CurrentTotal() const { return m_dwLastTotal; }
  std::uint64_t RecentSpeed() const { return m_recentSpeed; }
  int ListPercent() const;
  std::optional<std::uint32_t> ListSecondsLeft() const;

 private:
  const filelist::CFileList& m_list;
  std::vector<std::uint64_t> m_prefix;  // bytes of the entries before each index

  // The window's arithmetic.
  std::uint32_t m_nCurrentFile = 0;
  std::uint64_t m_dwLastReceived = 0;
  std::uint64_t m_dwLastTotal = 0;
  std::uint64_t m_nDownloadedSize = 0;
  std::uint32_t m_dwLastRecordTick = 0;
  std::uint32_t m_dwLastStartTime = 0;
  bool m_bStoppedByUser = false;
  bool m_bResumePending = false;
  std::uint32_t m_dwResumeBaseTime = 0;
  std::uint32_t m_dwStopTime = 0;
  // After a resumed start, records of the entry that was stopped are timed from this start instead
  // of the worker's (which began the entry anew).
  bool m_bShiftStart = false;
  std::uint32_t m_dwShiftedRecordStart = 0;
  std::uint32_t m_dwShiftedStart = 0;

  // The terminal's speed: network bytes over the last seconds.
  bool m_bAnyRecord = false;
  std::uint64_t m_transferred = 0;
  struct Sample {
    std::uint32_t tick;
    std::uint64_t bytes;
  };
  std::deque<Sample> m_samples;
  std::uint64_t m_recentSpeed = 0;
};

} // namespace download
