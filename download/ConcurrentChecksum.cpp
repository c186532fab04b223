#include "download/ConcurrentChecksum.h"

#include <algorithm>
#include <cstring>

#include "download/LocalFiles.h"
#include "download/Md5.h"
#include "platform/Files.h"

namespace download {

using namespace platform;

namespace {

// Room for a few reads of the transfer ahead of the hash.
constexpr std::size_t kRingBytes = 4 * 1024 * 1024;
// The writer wakes the helper only once this much more is waiting.
constexpr std::uint64_t kNotifyStep = 256 * 1024;

} // namespace

CConcurrentChecksum::CConcurrentChecksum(const std::atomic<bool>* running)
    : m_pbRunning(running), m_ring(kRingBytes), m_thread(&CConcurrentChecksum::Loop, this) {}

CConcurrentChecksum::~CConcurrentChecksum() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bQuit = true;
  }
  m_wake.notify_all();
  m_space.notify_all();
  m_thread.join();
}

void CConcurrentChecksum::WaitUntilIdle(std::unique_lock<std::mutex>& lock) {
  m_space.wait(lock, [this] { return !m_bReading; });
}

void CConcurrentChecksum::Begin(std::u16string path, std::uint64_t prefix) {
  {
    std::unique_lock<std::mutex> lock(m_mutex);
    ++m_nGeneration;
    WaitUntilIdle(lock);  // the ring starts afresh: nothing of the last file may still be read from it
    m_path = std::move(path);
    m_nPrefix = prefix;
    m_nWritten = m_nConsumed = m_nNotified = 0;
    m_nTarget = UINT64_MAX;
    m_bActive = true;
    m_bFinished = false;
    m_bHashEnded = false;
  }
  m_wake.notify_all();
}

void CConcurrentChecksum::Append(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::unique_lock<std::mutex> lock(m_mutex);
  const std::uint64_t generation = m_nGeneration;
  while (size > 0) {
    // Room in the ring, unless the file was dropped or the hash ended (a stop, a failure).
    m_space.wait(lock, [&] {
      return m_bQuit || m_nGeneration != generation || m_bHashEnded || m_nWritten - m_nConsumed < m_ring.size();
    });
    if (m_bQuit || m_nGeneration != generation || m_bHashEnded) return;
    const std::size_t at = static_cast<std::size_t>(m_nWritten % m_ring.size());
    const std::size_t room = m_ring.size() - static_cast<std::size_t>(m_nWritten - m_nConsumed);
    const std::size_t n = std::min({size, room, m_ring.size() - at});
    // The helper never reads the free part of the ring, so the copy needs no lock.
    lock.unlock();
    std::memcpy(m_ring.data() + at, bytes, n);
    lock.lock();
    if (m_nGeneration != generation) return;
    m_nWritten += n;
    bytes += n;
    size -= n;
    if (m_nWritten - m_nNotified >= kNotifyStep) {
      m_nNotified = m_nWritten;
      m_wake.notify_all();
    }
  }
}

ErrorCode CConcurrentChecksum::Finish(std::uint64_t size, std::u16string& checksum) {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (!m_bActive && !m_bFinished) return ERROR_INVALID_HANDLE;
  m_nTarget = size;
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
  m_space.notify_all();
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
    const std::uint64_t prefix = m_nPrefix;
    lock.unlock();

    CMd5 md5;
    ErrorCode result = md5.Ok() ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
    // A resumed file's part on disk first, as the page cache holds it.
    if (prefix > 0 && result == ERROR_SUCCESS) {
      CFileHandle file;
      result = file.Open(path, OpenMode::ReadExisting);
      for (std::uint64_t hashed = 0; hashed < prefix && result == ERROR_SUCCESS;) {
        std::size_t got = 0;
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(kHashReadBlock, prefix - hashed));
        result = file.ReadAt(block.data(), want, hashed, got);
        if (result == ERROR_SUCCESS && got == 0) result = ERROR_HANDLE_EOF;  // shorter than announced
        if (result == ERROR_SUCCESS) result = HashWatchingStop(md5, block.data(), got, m_pbRunning);
        hashed += got;
      }
    }
    // Then the bytes handed over, straight from the ring.
    lock.lock();
    while (result == ERROR_SUCCESS) {
      m_wake.wait(lock, [&] {
        return m_bQuit || m_nGeneration != generation || m_nWritten > m_nConsumed || m_nTarget != UINT64_MAX;
      });
      if (m_bQuit || m_nGeneration != generation) break;
      if (m_nTarget != UINT64_MAX && prefix + m_nConsumed >= m_nTarget) break;  // all of it is hashed
      if (m_nWritten == m_nConsumed) {
        result = ERROR_HANDLE_EOF;  // Finish named more than was handed over
        break;
      }
      const std::size_t at = static_cast<std::size_t>(m_nConsumed % m_ring.size());
      std::uint64_t n = std::min<std::uint64_t>({m_nWritten - m_nConsumed, kHashReadBlock, m_ring.size() - at});
      if (m_nTarget != UINT64_MAX) n = std::min(n, m_nTarget - prefix - m_nConsumed);
      m_bReading = true;
      lock.unlock();
      result = HashWatchingStop(md5, m_ring.data() + at, static_cast<std::size_t>(n), m_pbRunning);
      lock.lock();
      m_bReading = false;
      m_nConsumed += n;
      m_space.notify_all();
    }
    const bool stale = m_bQuit || m_nGeneration != generation;
    if (result != ERROR_SUCCESS && !stale) {
      // The hash has ended: a writer waiting for room must not wait any longer.
      m_bHashEnded = true;
      m_space.notify_all();
    }
    lock.unlock();
    std::u16string text;
    if (result == ERROR_SUCCESS && !stale) text = md5.Finish();

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
