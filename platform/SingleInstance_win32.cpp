// One copy per user session: a named mutex, which the system releases when the process ends.
#include "platform/SingleInstance.h"

#include <string>
#include <windows.h>

namespace platform {

CSingleInstanceLock::~CSingleInstanceLock() { Release(); }

ErrorCode CSingleInstanceLock::Acquire(std::string_view name) {
  Release();
  const std::wstring wide(name.begin(), name.end());
  const HANDLE mutex = CreateMutexW(nullptr, TRUE, wide.c_str());
  if (mutex == nullptr) return GetLastError();
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return ERROR_ALREADY_EXISTS;
  }
  m_fd = reinterpret_cast<std::intptr_t>(mutex);
  return ERROR_SUCCESS;
}

void CSingleInstanceLock::Release() {
  if (m_fd != -1) {
    ReleaseMutex(reinterpret_cast<HANDLE>(m_fd));
    CloseHandle(reinterpret_cast<HANDLE>(m_fd));
    m_fd = -1;
  }
}

} // namespace platform
