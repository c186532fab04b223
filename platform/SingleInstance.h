#pragma once
// One copy per user session: a lock named after the program (a file lock here, a named mutex on
// Windows), which the system releases when the process ends, however it ends.
#include <cstdint>
#include <string_view>

#include "platform/ErrorCodes.h"

namespace platform {

class CSingleInstanceLock {
 public:
  CSingleInstanceLock() = default;
  ~CSingleInstanceLock();
  CSingleInstanceLock(const CSingleInstanceLock&) = delete;
  CSingleInstanceLock& operator=(const CSingleInstanceLock&) = delete;

  // 0 when this process now holds the lock; ERROR_ALREADY_EXISTS when another copy holds it;
  // another code when the lock could not be set up at all.
  ErrorCode Acquire(std::string_view name);
  void Release();

 private:
  std::intptr_t m_fd = -1;  // the lock file's descriptor, or the mutex's handle
};

} // namespace platform
