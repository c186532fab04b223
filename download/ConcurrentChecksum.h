#pragma once
// The MD5 of a file that is being written, computed on a second thread while the file grows, so
// that the verification after a transfer costs no second pass over the file. The helper reads back
// what has been written (from the page cache) and hashes it; the result is the checksum of the
// file's bytes, exactly as a pass after the transfer would compute it.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ErrorCodes.h"

namespace download {

class CConcurrentChecksum {
 public:
  // running: the worker's flag; once false the hash ends with CHECKSUM_STOPPED.
  explicit CConcurrentChecksum(const std::atomic<bool>* running);
  ~CConcurrentChecksum();
  CConcurrentChecksum(const CConcurrentChecksum&) = delete;
  CConcurrentChecksum& operator=(const CConcurrentChecksum&) = delete;

  // Starts hashing path from its first byte; bytes up to `available` are already in the file.
  void Begin(std::u16string path, std::uint64_t available);
  // The file now holds this many bytes.
  void Advance(std::uint64_t available);
  // Waits until the first `size` bytes are hashed; 0 and the checksum text, or an error code.
  platform::ErrorCode Finish(std::uint64_t size, std::u16string& checksum);
  // Drops the current file, if any, without a result.
  void Abandon();

 private:
  void Loop();

  const std::atomic<bool>* m_pbRunning;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_done;
  // Guarded by m_mutex.
  std::u16string m_path;
  std::uint64_t m_nAvailable = 0;
  std::uint64_t m_nTarget = UINT64_MAX;  // the final size once Finish names it
  std::uint64_t m_nNotified = 0;
  bool m_bActive = false;    // a file is being hashed
  bool m_bFinished = false;  // the result below is ready
  bool m_bQuit = false;
  std::uint64_t m_nGeneration = 0;  // changes with every Begin and Abandon
  platform::ErrorCode m_nResult = 0;
  std::u16string m_strResult;
  std::thread m_thread;
};

} // namespace download
