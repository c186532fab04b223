#include "platform/Files.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include "platform/Utf.h"

namespace platform {

namespace {

// A path converted for the system calls; too long a path is reported, never cut silently.
struct NativePath {
  char text[PATH_MAX];
  bool ok;
  explicit NativePath(std::u16string_view path) : text{}, ok(NarrowUtf8To(path, text, sizeof text)) {}
};

ErrorCode LastError() { return ErrorFromErrno(errno); }

} // namespace

ErrorCode CFileHandle::Open(std::u16string_view path, OpenMode mode, Sharing sharing) {
  Close();
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  NativePath native(path);
  if (!native.ok) return ERROR_FILENAME_EXCED_RANGE;
  // Non-blocking, so a FIFO or device at the path can never hang the open; only regular files pass.
  int flags = O_CLOEXEC | O_NONBLOCK;
  switch (mode) {
    case OpenMode::ReadExisting: flags |= O_RDONLY; break;
    case OpenMode::WriteAlways: flags |= O_WRONLY | O_CREAT; break;
    case OpenMode::WriteTruncate: flags |= O_WRONLY | O_CREAT; break;
    case OpenMode::AppendAlways: flags |= O_WRONLY | O_CREAT | O_APPEND; break;
  }
  const int fd = ::open(native.text, flags, 0644);
  if (fd < 0) return LastError();
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return ERROR_ACCESS_DENIED;
  }
  if (sharing != Sharing::Shared) {
    // Advisory locks keep out the other holders of locks; a plain reader takes none.
    const int op = (sharing == Sharing::ReadShared ? LOCK_SH : LOCK_EX) | LOCK_NB;
    if (flock(fd, op) != 0) {
      const int err = errno;
      ::close(fd);
      return err == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : ErrorFromErrno(err);
    }
  }
  // Truncate only once we hold the file, so a refused open never empties someone else's file. An
  // empty file is left alone: on ext4 a truncation makes the next close write the file out at once.
  if (mode == OpenMode::WriteTruncate) {
    const bool empty = fstat(fd, &st) == 0 && st.st_size == 0;
    if (!empty && ftruncate(fd, 0) != 0) {
      const int err = errno;
      ::close(fd);
      return ErrorFromErrno(err);
    }
  }
  m_fd = fd;
  return ERROR_SUCCESS;
}

void CFileHandle::Close() {
  if (m_fd != kNoFile) {
    ::close(static_cast<int>(m_fd));
    m_fd = kNoFile;
  }
}

ErrorCode CFileHandle::Read(void* buffer, std::size_t size, std::size_t& got) {
  got = 0;
  if (m_fd == kNoFile) return ERROR_INVALID_HANDLE;
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(m_fd), buffer, size);
    if (n >= 0) {
      got = static_cast<std::size_t>(n);
      return ERROR_SUCCESS;
    }
    if (errno != EINTR) return LastError();
  }
}

ErrorCode CFileHandle::ReadAt(void* buffer, std::size_t size, std::uint64_t offset, std::size_t& got) {
  got = 0;
  if (m_fd == kNoFile) return ERROR_INVALID_HANDLE;
  for (;;) {
    const ssize_t n = ::pread(static_cast<int>(m_fd), buffer, size, static_cast<off_t>(offset));
    if (n >= 0) {
      got = static_cast<std::size_t>(n);
      return ERROR_SUCCESS;
    }
    if (errno != EINTR) return LastError();
  }
}

ErrorCode CFileHandle::Write(const void* buffer, std::size_t size) {
  if (m_fd == kNoFile) return ERROR_INVALID_HANDLE;
  const char* p = static_cast<const char*>(buffer);
  while (size > 0) {
    const ssize_t n = ::write(static_cast<int>(m_fd), p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (n == 0) return ERROR_DISK_FULL;
    p += n;
    size -= static_cast<std::size_t>(n);
  }
  return ERROR_SUCCESS;
}

ErrorCode CFileHandle::SeekToEnd() {
  if (m_fd == kNoFile) return ERROR_INVALID_HANDLE;
  return ::lseek(static_cast<int>(m_fd), 0, SEEK_END) < 0 ? LastError() : ERROR_SUCCESS;
}

ErrorCode CFileHandle::Seek(std::uint64_t offset) {
  if (m_fd == kNoFile) return ERROR_INVALID_HANDLE;
  return ::lseek(static_cast<int>(m_fd), static_cast<off_t>(offset), SEEK_SET) < 0 ? LastError() : ERROR_SUCCESS;
}

ErrorCode CFileHandle::SetSize(std::uint64_t size) {
  if (m_fd == kNoFile) return ERROR_INVALID_HANDLE;
  const int fd = static_cast<int>(m_fd);
  if (::ftruncate(fd, static_cast<off_t>(size)) != 0) return LastError();
  return ::lseek(fd, static_cast<off_t>(size), SEEK_SET) < 0 ? LastError() : ERROR_SUCCESS;
}

ErrorCode CFileHandle::Flush() {
  if (m_fd == kNoFile) return ERROR_INVALID_HANDLE;
  return ::fsync(static_cast<int>(m_fd)) != 0 ? LastError() : ERROR_SUCCESS;
}

ErrorCode CFileHandle::Size(std::uint64_t& size) const {
  size = 0;
  if (m_fd == kNoFile) return ERROR_INVALID_HANDLE;
  struct stat st {};
  if (fstat(static_cast<int>(m_fd), &st) != 0) return LastError();
  size = static_cast<std::uint64_t>(st.st_size);
  return ERROR_SUCCESS;
}

void CFileHandle::AdviseSequential() {
  if (m_fd >= 0) posix_fadvise(static_cast<int>(m_fd), 0, 0, POSIX_FADV_SEQUENTIAL);
}

bool IsAbsolutePath(std::u16string_view path) { return !path.empty() && path.front() == u'/'; }

bool PathExists(std::u16string_view path) {
  NativePath native(path);
  struct stat st {};
  return native.ok && !path.empty() && ::stat(native.text, &st) == 0;
}

bool IsDirectory(std::u16string_view path) {
  NativePath native(path);
  struct stat st {};
  return native.ok && !path.empty() && ::stat(native.text, &st) == 0 && S_ISDIR(st.st_mode);
}

ErrorCode CreateOneDirectory(std::u16string_view path) {
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  NativePath native(path);
  if (!native.ok) return ERROR_FILENAME_EXCED_RANGE;
  if (::mkdir(native.text, 0755) == 0) return ERROR_SUCCESS;
  // Windows reports a missing parent as "path not found", not "file not found".
  return errno == ENOENT ? ERROR_PATH_NOT_FOUND : LastError();
}

ErrorCode CreateDirectoryTree(std::u16string_view path) {
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  NativePath native(path);
  if (!native.ok) return ERROR_FILENAME_EXCED_RANGE;
  char* text = native.text;
  const std::size_t length = std::strlen(text);
  // Walk every prefix ending before a separator, then the whole path.
  for (std::size_t i = 1; i <= length; ++i) {
    if (i < length && text[i] != '/') continue;
    const char saved = text[i];
    text[i] = '\0';
    struct stat st {};
    if (::stat(text, &st) != 0) {
      if (::mkdir(text, 0755) != 0 && errno != EEXIST) {
        const ErrorCode code = errno == ENOENT ? ERROR_PATH_NOT_FOUND : LastError();
        text[i] = saved;
        return code;
      }
    } else if (!S_ISDIR(st.st_mode)) {
      text[i] = saved;
      return i == length ? ERROR_ALREADY_EXISTS : ERROR_PATH_NOT_FOUND;
    }
    text[i] = saved;
  }
  return ERROR_SUCCESS;
}

ErrorCode GetFileSizeOf(std::u16string_view path, std::uint64_t& size) {
  size = 0;
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  NativePath native(path);
  if (!native.ok) return ERROR_FILENAME_EXCED_RANGE;
  struct stat st {};
  if (::stat(native.text, &st) != 0) return errno == ENOTDIR ? ERROR_PATH_NOT_FOUND : LastError();
  if (!S_ISREG(st.st_mode)) return ERROR_ACCESS_DENIED;
  size = static_cast<std::uint64_t>(st.st_size);
  return ERROR_SUCCESS;
}

PathKind QueryPath(std::u16string_view path, std::uint64_t& size, ErrorCode& error) {
  size = 0;
  error = ERROR_SUCCESS;
  NativePath native(path);
  if (path.empty() || !native.ok) return PathKind::Missing;
  struct stat st {};
  if (::stat(native.text, &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return PathKind::Missing;
    error = LastError();
    return PathKind::File;
  }
  if (!S_ISREG(st.st_mode)) return PathKind::Other;
  size = static_cast<std::uint64_t>(st.st_size);
  return PathKind::File;
}

ErrorCode WriteFileAtomically(std::u16string_view path, std::string_view bytes, FileAccess access) {
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  NativePath native(path);
  if (!native.ok) return ERROR_FILENAME_EXCED_RANGE;
  const std::string temporary = std::string(native.text) + ".tmp." + std::to_string(getpid());
  // Created with its final permissions, so a private file is never readable by others for a moment.
  // Always a new file (O_EXCL): one left or planted at that name would keep its own owner and mode.
  const auto create = [&] {
    return ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                  access == FileAccess::OwnerOnly ? 0600 : 0644);
  };
  int fd = create();
  if (fd < 0 && errno == EEXIST && ::unlink(temporary.c_str()) == 0) fd = create();
  if (fd < 0) return errno == ENOENT ? ERROR_PATH_NOT_FOUND : LastError();
  ErrorCode code = ERROR_SUCCESS;
  for (std::size_t done = 0; done < bytes.size() && code == ERROR_SUCCESS;) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n > 0) done += static_cast<std::size_t>(n);
    else if (n == 0) code = ERROR_DISK_FULL;
    else if (errno != EINTR) code = LastError();
  }
  if (code == ERROR_SUCCESS && ::fsync(fd) != 0) code = LastError();
  if (::close(fd) != 0 && code == ERROR_SUCCESS) code = LastError();
  if (code == ERROR_SUCCESS && ::rename(temporary.c_str(), native.text) != 0) code = LastError();
  if (code != ERROR_SUCCESS) ::unlink(temporary.c_str());
  return code;
}

ErrorCode ReplaceFileWith(std::u16string_view target, std::u16string_view source) {
  NativePath to(target);
  NativePath from(source);
  if (!to.ok || !from.ok) return ERROR_FILENAME_EXCED_RANGE;
  return ::rename(from.text, to.text) != 0 ? LastError() : ERROR_SUCCESS;
}

ErrorCode RemoveFile(std::u16string_view path) {
  NativePath native(path);
  if (!native.ok) return ERROR_FILENAME_EXCED_RANGE;
  return ::unlink(native.text) != 0 ? LastError() : ERROR_SUCCESS;
}

bool FolderHasEntries(std::u16string_view path) {
  NativePath native(path);
  if (!native.ok) return false;
  DIR* folder = ::opendir(native.text);
  if (folder == nullptr) return false;
  bool any = false;
  while (const dirent* entry = ::readdir(folder)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) {
      any = true;
      break;
    }
  }
  ::closedir(folder);
  return any;
}

bool IsSamePath(std::u16string_view a, std::u16string_view b) { return a == b; }

std::uint64_t FreeBytesOfFileSystem(std::u16string_view path) {
  if (path.empty() || path[0] != kPathSeparator) return 0;
  NativePath native(path);
  if (!native.ok) return 0;
  char* text = native.text;
  for (;;) {
    struct statvfs vfs {};
    if (::statvfs(text, &vfs) == 0)
      return static_cast<std::uint64_t>(vfs.f_bavail) * static_cast<std::uint64_t>(vfs.f_frsize);
    if (errno != ENOENT && errno != ENOTDIR) return 0;
    char* slash = std::strrchr(text, '/');
    if (slash == nullptr) return 0;
    if (slash == text) {
      if (text[1] == '\0') return 0;
      text[1] = '\0';
    } else {
      *slash = '\0';
    }
  }
}

} // namespace platform
