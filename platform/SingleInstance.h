#pragma once
// One copy per user session: an exclusive lock on a file named after the program, which the
// kernel releases when the process ends, however it ends.
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
  int m_fd = -1;
};

} // namespace platform
