#pragma once
// What the worker reports to the window, and how: records posted to a message target that the
// window registers. Ownership of a record passes with the message; a target that is gone receives
// nothing, and the record is freed.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string_view>

namespace download {

constexpr std::uint32_t WM_DOWNLOAD_PROGRESS = 2025;
constexpr std::uint32_t WM_DOWNLOAD_RESULT = 2026;

struct MessageRecord {
  virtual ~MessageRecord() = default;
};

struct DownloadProgress : MessageRecord {
  std::int32_t nFileIndex = 0;
  bool bVerified = false;
  std::uint32_t dwStartTime = 0;
  // Byte counts are 64-bit so entries of 4 GiB and more are reported exactly.
  std::uint64_t dwTotal = 0;
  std::uint64_t dwReceived = 0;
  // Bytes of the entry that were already on disk when its transfer began (a resumed part): they
  // count as done but did not come over the network.
  std::uint64_t dwResumedFrom = 0;
};

struct DownloadResult : MessageRecord {
  bool bSuccess = false;
  char16_t szMessage[256] = {};  // at most 255 code units and a terminating zero
  // For a terminal or a log, not the window's box: the path a failure concerns and the system's
  // reason ("/games/VALDRIS/a.pak: permission denied"); empty when it concerns no path.
  std::u16string strDetail;
};

// Turns a posted record back into its type by its message id and hands it, owned, to the handler
// of that type; false when the id is neither (the record is then freed).
template <typename OnProgress, typename OnResult>
bool DispatchRecord(std::uint32_t message, std::unique_ptr<MessageRecord> record, OnProgress&& onProgress,
                    OnResult&& onResult) {
  if (message == WM_DOWNLOAD_PROGRESS) {
    onProgress(std::unique_ptr<DownloadProgress>(static_cast<DownloadProgress*>(record.release())));
    return true;
  }
  if (message == WM_DOWNLOAD_RESULT) {
    onResult(std::unique_ptr<DownloadResult>(static_cast<DownloadResult*>(record.release())));
    return true;
  }
  return false;
}

// A result record with the message cut to what it holds; null when memory runs out.
std::unique_ptr<DownloadResult> MakeResultRecord(bool success, std::u16string_view message,
                                                 std::u16string_view detail = {});

// The receiving side: called on the posting thread, so it must only hand the record over (for
// example as a queued event to its own thread).
class IMessageTarget {
 public:
  virtual ~IMessageTarget() = default;
  virtual void OnPost(std::uint32_t message, std::unique_ptr<MessageRecord> record) = 0;
};

// A handle names a registered target; 0 names none.
using TargetHandle = std::uint32_t;

TargetHandle RegisterMessageTarget(IMessageTarget* target);
// After this returns no post reaches the target any more.
void UnregisterMessageTarget(TargetHandle handle);
bool IsTargetAlive(TargetHandle handle);
// False when the handle names no target; the record is then freed here.
bool PostToTarget(TargetHandle handle, std::uint32_t message, std::unique_ptr<MessageRecord> record);

// A target that queues messages for a thread that waits on them (the terminal front end, tests).
class CMessageQueue : public IMessageTarget {
 public:
  struct Message {
    std::uint32_t id = 0;
    std::unique_ptr<MessageRecord> record;
  };
  CMessageQueue();
  ~CMessageQueue() override;
  TargetHandle Handle() const { return m_hWnd; }
  void OnPost(std::uint32_t message, std::unique_ptr<MessageRecord> record) override;
  // Waits up to timeoutMs for the next message; false when none came.
  bool Wait(Message& out, std::uint32_t timeoutMs);

 private:
  std::mutex m_mutex;
  std::condition_variable m_ready;
  std::deque<Message> m_queue;
  TargetHandle m_hWnd = 0;
};

} // namespace download
