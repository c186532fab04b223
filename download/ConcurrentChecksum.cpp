#include "download/ConcurrentChecksum.h"

#include <algorithm>
#include <vector>

#include "download/LocalFiles.h"
#include "download/Md5.h"
#include "platform/Files.h"

namespace download {

using namespace platform;

namespace {

// The writer wakes the helper only once this much more is in the file.
constexpr std::uint64_t kNotifyStep = 256 * 1024;

} // namespace

CConcurrentChecksum::CConcurrentChecksum(const std::atomic<bool>* running)
    : m_pbRunning(running), m_thread(&CConcurrentChecksum::Loop, this) {}

CConcurrentChecksum::~CConcurrentChecksum() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bQuit = true;
  }
  m_wake.notify_all();
  m_thread.join();
}

void CConcurrentChecksum::Begin(std::u16string path, std::uint64_t available) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_path = std::move(path);
    m_nAvailable = m_nNotified = available;
    m_nTarget = UINT64_MAX;
    m_bActive = true;
    m_bFinished = false;
    ++m_nGeneration;
  }
  m_wake.notify_all();
}

void CConcurrentChecksum::Advance(std::uint64_t available) {
  bool notify = false;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_nAvailable = available;
    if (available - m_nNotified >= kNotifyStep) {
      m_nNotified = available;
      notify = true;
    }
  }
  if (notify) m_wake.notify_all();
}

ErrorCode CConcurrentChecksum::Finish(std::uint64_t size, std::u16string& checksum) {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (!m_bActive && !m_bFinished) return ERROR_INVALID_HANDLE;
  m_nTarget = size;
  m_nAvailable = std::max(m_nAvailable, size);
  m_wake.notify_all();
  m_done.wait(lock, [this] { return m_bFinished; });
  m_bFinished = false;
  checksum = std::move(m_strResult);
  return m_nResult;
}

void CConcurrentChecksum::Abandon() {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (!m_bActive) {
    m_bFinished = false;
    return;
  }
  ++m_nGeneration;  // the loop sees the change and drops the file
  m_bActive = false;
  m_wake.notify_all();
}

void CConcurrentChecksum::Loop() {
  std::vector<unsigned char> block(kHashReadBlock);
  std::unique_lock<std::mutex> lock(m_mutex);
  std::uint64_t handled = 0;  // the generation last taken up
  for (;;) {
    m_wake.wait(lock, [&] { return m_bQuit || (m_bActive && m_nGeneration != handled); });
    if (m_bQuit) return;
    const std::uint64_t generation = handled = m_nGeneration;
    const std::u16string path = m_path;
    lock.unlock();

    CFileHandle file;
    ErrorCode result = file.Open(path, OpenMode::ReadExisting);
    CMd5 md5;
    if (result == ERROR_SUCCESS && !md5.Ok()) result = ERROR_NOT_ENOUGH_MEMORY;
    std::uint64_t hashed = 0;
    while (result == ERROR_SUCCESS) {
      lock.lock();
      m_wake.wait(lock, [&] {
        return m_bQuit || m_nGeneration != generation || m_nAvailable > hashed || hashed >= m_nTarget;
      });
      const bool stale = m_bQuit || m_nGeneration != generation;
      const bool complete = hashed >= m_nTarget;
      const std::uint64_t available = std::min(m_nAvailable, m_nTarget);
      lock.unlock();
      if (stale || complete) break;
      // Hash what is there, watching the stop flag every 1024 bytes.
      while (hashed < available && result == ERROR_SUCCESS) {
        std::size_t got = 0;
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kHashReadBlock, available - hashed));
        result = file.ReadAt(block.data(), want, hashed, got);
        if (result == ERROR_SUCCESS && got == 0) result = ERROR_HANDLE_EOF;  // shorter than announced
        if (result == ERROR_SUCCESS) result = HashWatchingStop(md5, block.data(), got, m_pbRunning);
        hashed += got;
      }
    }
    std::u16string text;
    if (result == ERROR_SUCCESS) text = md5.Finish();

    lock.lock();
    // The result belongs to the Finish call of this generation; a file dropped meanwhile gets none.
    m_wake.wait(lock, [&] { return m_bQuit || m_nGeneration != generation || m_nTarget != UINT64_MAX; });
    if (m_bQuit) return;
    if (m_nGeneration != generation) continue;
    if (result == ERROR_SUCCESS && text.empty()) result = ERROR_GEN_FAILURE;
    m_nResult = result;
    m_strResult = std::move(text);
    m_bActive = false;
    m_bFinished = true;
    m_done.notify_all();
  }
}

} // namespace download
