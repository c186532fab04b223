// What a file handle does the same way on every system: ownership passes on a move, and the handle
// is closed exactly once.
#include "platform/Files.h"

namespace platform {

CFileHandle::~CFileHandle() { Close(); }

CFileHandle::CFileHandle(CFileHandle&& other) noexcept : m_fd(other.m_fd) { other.m_fd = kNoFile; }

CFileHandle& CFileHandle::operator=(CFileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    m_fd = other.m_fd;
    other.m_fd = kNoFile;
  }
  return *this;
}

} // namespace platform
