#include "download/Messages.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <unordered_map>

namespace download {

namespace {

// The registry of live targets. Posting holds its lock while handing the record over, so once a
// target is unregistered nothing can still be on its way into it.
struct Registry {
  std::mutex mutex;
  std::unordered_map<TargetHandle, IMessageTarget*> targets;
  TargetHandle next = 1;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

} // namespace

std::unique_ptr<DownloadResult> MakeResultRecord(bool success, std::u16string_view message,
                                                 std::u16string_view detail) {
  std::unique_ptr<DownloadResult> record;
  try {
    record = std::make_unique<DownloadResult>();
    record->strDetail = detail;
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  record->bSuccess = success;
  const std::size_t n = std::min<std::size_t>(message.size(), 255);
  std::copy_n(message.data(), n, record->szMessage);
  record->szMessage[n] = u'\0';
  return record;
}

TargetHandle RegisterMessageTarget(IMessageTarget* target) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  TargetHandle handle = r.next++;
  if (handle == 0) handle = r.next++;
  r.targets[handle] = target;
  return handle;
}

void UnregisterMessageTarget(TargetHandle handle) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  r.targets.erase(handle);
}

bool IsTargetAlive(TargetHandle handle) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  return r.targets.count(handle) != 0;
}

bool PostToTarget(TargetHandle handle, std::uint32_t message, std::unique_ptr<MessageRecord> record) {
  Registry& r = TheRegistry();
  std::lock_guard<std::mutex> lock(r.mutex);
  const auto found = r.targets.find(handle);
  if (found == r.targets.end()) return false;
  found->second->OnPost(message, std::move(record));
  return true;
}

CMessageQueue::CMessageQueue() : m_hWnd(RegisterMessageTarget(this)) {}

CMessageQueue::~CMessageQueue() { UnregisterMessageTarget(m_hWnd); }

void CMessageQueue::OnPost(std::uint32_t message, std::unique_ptr<MessageRecord> record) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queue.push_back(Message{message, std::move(record)});
  }
  m_ready.notify_one();
}

bool CMessageQueue::Wait(Message& out, std::uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (!m_ready.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return !m_queue.empty(); }))
    return false;
  out = std::move(m_queue.front());
  m_queue.pop_front();
  return true;
}

} // namespace download
