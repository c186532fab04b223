#pragma once
// The MD5 of a file that is being written, computed on a second thread while the transfer goes on,
// so that the verification after a transfer costs no second pass over the file. The bytes written
// are handed over as they are written and hashed from memory; a resumed file's existing part is read
// from disk first. On two cores the transfer then hides entirely behind the hash.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ErrorCodes.h"

namespace download {

class CConcurrentChecksum {
 public:
  // running: the worker's flag; once false the hash ends with CHECKSUM_STOPPED.
  explicit CConcurrentChecksum(const std::atomic<bool>* running);
  ~CConcurrentChecksum();
  CConcurrentChecksum(const CConcurrentChecksum&) = delete;
  CConcurrentChecksum& operator=(const CConcurrentChecksum&) = delete;

  // Starts hashing path: its first `prefix` bytes are read from the file, the rest comes by Append.
  void Begin(std::u16string path, std::uint64_t prefix);
  // The next bytes of the file, just written to it. Waits while the hand-over buffer is full.
  void Append(const void* data, std::size_t size);
  // Waits until the first `size` bytes are hashed; 0 and the checksum text, or an error code.
  platform::ErrorCode Finish(std::uint64_t size, std::u16string& checksum);
  // Drops the current file, if any, without a result.
  void Abandon();

 private:
  void Loop();
  // Waits (lock held) until the helper holds no part of the hand-over buffer.
  void WaitUntilIdle(std::unique_lock<std::mutex>& lock);

  const std::atomic<bool>* m_pbRunning;
  std::mutex m_mutex;
  std::condition_variable m_wake;   // the helper waits here for work
  std::condition_variable m_space;  // the writer waits here for room, Begin and Abandon for idleness
  std::condition_variable m_done;
  // The hand-over buffer: a ring the writer fills and the helper empties.
  std::vector<unsigned char> m_ring;
  // Guarded by m_mutex.
  std::u16string m_path;
  std::uint64_t m_nPrefix = 0;
  std::uint64_t m_nWritten = 0;   // bytes put into the ring for this file
  std::uint64_t m_nConsumed = 0;  // bytes of the ring hashed for this file
  std::uint64_t m_nNotified = 0;
  std::uint64_t m_nTarget = UINT64_MAX;  // the final size once Finish names it
  bool m_bActive = false;    // a file is being hashed
  bool m_bFinished = false;  // the result below is ready
  bool m_bReading = false;   // the helper is hashing a part of the ring
  bool m_bHashEnded = false; // the hash of this file ended early (a stop, a failure): nothing more is taken
  bool m_bQuit = false;
  std::uint64_t m_nGeneration = 0;  // changes with every Begin and Abandon
  platform::ErrorCode m_nResult = 0;
  std::u16string m_strResult;
  std::thread m_thread;
};

} // namespace download
