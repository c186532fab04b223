#include "platform/SingleInstance.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// The per-user runtime folder, else a private folder of the user's in the temporary folder ($TMPDIR,
// else /tmp). A folder of that name that is not the user's own (someone else made it first) is not
// used: the user's home folder takes its place.
std::string LockFolder() {
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/') return runtime;
  const char* temp = std::getenv("TMPDIR");
  std::string folder = std::string(temp != nullptr && temp[0] == '/' ? temp : "/tmp") + "/valdris-" +
                       std::to_string(getuid());
  ::mkdir(folder.c_str(), 0700);
  struct stat st {};
  if (::lstat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == getuid() && (st.st_mode & 077) == 0)
    return folder;
  const char* home = std::getenv("HOME");
  return home != nullptr && home[0] == '/' ? home : ".";
}

} // namespace

CSingleInstanceLock::~CSingleInstanceLock() { Release(); }

ErrorCode CSingleInstanceLock::Acquire(std::string_view name) {
  Release();
  const std::string path = LockFolder() + "/" + std::string(name);
  // Never through a link someone placed where the lock belongs.
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return ErrorFromErrno(errno);
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(fd);
    return err == EWOULDBLOCK ? ERROR_ALREADY_EXISTS : ErrorFromErrno(err);
  }
  m_fd = fd;
  return ERROR_SUCCESS;
}

void CSingleInstanceLock::Release() {
  if (m_fd >= 0) {
    ::close(static_cast<int>(m_fd));
    m_fd = -1;
  }
}

} // namespace platform
