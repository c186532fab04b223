#include "platform/Files.h"

#include <algorithm>
#include <string>
#include <windows.h>

namespace platform {

namespace {

// A path as the system's API takes it (UTF-16 both), on a stack buffer so no call here allocates
// (the log opens its file for every line); too long a path is reported, never cut.
struct NativePath {
  wchar_t text[1024];
  bool ok;
  explicit NativePath(std::u16string_view path) : text{}, ok(path.size() < 1024) {
    if (ok) std::copy(path.begin(), path.end(), text);
  }
  const wchar_t* c_str() const { return text; }
};

NativePath Native(std::u16string_view path) { return NativePath(path); }

HANDLE ToHandle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

} // namespace

ErrorCode CFileHandle::Open(std::u16string_view path, OpenMode mode, Sharing sharing) {
  Close();
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  DWORD access = GENERIC_WRITE;
  DWORD creation = OPEN_ALWAYS;
  switch (mode) {
    case OpenMode::ReadExisting: access = GENERIC_READ; creation = OPEN_EXISTING; break;
    case OpenMode::WriteAlways: break;
    case OpenMode::WriteTruncate: break;
    case OpenMode::AppendAlways: access = FILE_APPEND_DATA | SYNCHRONIZE; break;
  }
  DWORD share = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  if (sharing == Sharing::ReadShared || sharing == Sharing::SoleWriter) share = FILE_SHARE_READ;
  if (sharing == Sharing::Exclusive) share = 0;
  const NativePath native(path);
  if (!native.ok) return ERROR_FILENAME_EXCED_RANGE;
  const HANDLE file = CreateFileW(native.c_str(), access, share, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  // Only files on a disk: never a device or a pipe standing where a file belongs.
  if (GetFileType(file) != FILE_TYPE_DISK) {
    CloseHandle(file);
    return ERROR_ACCESS_DENIED;
  }
  // Emptied only once we hold it, so a refused open never empties someone else's file.
  if (mode == OpenMode::WriteTruncate && !SetEndOfFile(file)) {
    const DWORD code = GetLastError();
    CloseHandle(file);
    return code;
  }
  m_fd = reinterpret_cast<std::intptr_t>(file);
  return ERROR_SUCCESS;
}

void CFileHandle::Close() {
  if (m_fd != kNoFile) {
    CloseHandle(ToHandle(m_fd));
    m_fd = kNoFile;
  }
}

ErrorCode CFileHandle::Read(void* buffer, std::size_t size, std::size_t& got) {
  got = 0;
  if (m_fd == kNoFile) return ERROR_INVALID_HANDLE;
  DWORD n = 0;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!ReadFile(ToHandle(m_fd), buffer, want, &n, nullptr)) return GetLastError();
  got = n;
  return ERROR_SUCCESS;
}

ErrorCode CFileHandle::ReadAt(void* buffer, std::size_t size, std::uint64_t offset, std::size_t& got) {
  got = 0;
  if (m_fd == kNoFile) return ERROR_INVALID_HANDLE;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD n = 0;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!ReadFile(ToHandle(m_fd), buffer, want, &n, &at)) {
    const DWORD code = GetLastError();
    return code == ERROR_HANDLE_EOF ? ERROR_SUCCESS : code;
  }
  got = n;
  return ERROR_SUCCESS;
}

ErrorCode CFileHandle::Write(const void* buffer, std::size_t size) {
  if (m_fd == kNoFile) return ERROR_INVALID_HANDLE;
  const char* p = static_cast<const char*>(buffer);
  while (size > 0) {
    DWORD n = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
    if (!WriteFile(ToHandle(m_fd), p, chunk, &n, nullptr)) return GetLastError();
    if (n == 0) return ERROR_DISK_FULL;
    p += n;
    size -= n;
  }
  return ERROR_SUCCESS;
}

ErrorCode CFileHandle::SeekToEnd() {
  if (m_fd == kNoFile) return ERROR_INVALID_HANDLE;
  LARGE_INTEGER zero{};
  return SetFilePointerEx(ToHandle(m_fd), zero, nullptr, FILE_END) ? ERROR_SUCCESS : GetLastError();
}

ErrorCode CFileHandle::Seek(std::uint64_t offset) {
  if (m_fd == kNoFile) return ERROR_INVALID_HANDLE;
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(offset);
  return SetFilePointerEx(ToHandle(m_fd), at, nullptr, FILE_BEGIN) ? ERROR_SUCCESS : GetLastError();
}

ErrorCode CFileHandle::SetSize(std::uint64_t size) {
  if (m_fd == kNoFile) return ERROR_INVALID_HANDLE;
  LARGE_INTEGER at{};
  at.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFilePointerEx(ToHandle(m_fd), at, nullptr, FILE_BEGIN)) return GetLastError();
  return SetEndOfFile(ToHandle(m_fd)) ? ERROR_SUCCESS : GetLastError();
}

ErrorCode CFileHandle::Flush() {
  if (m_fd == kNoFile) return ERROR_INVALID_HANDLE;
  return FlushFileBuffers(ToHandle(m_fd)) ? ERROR_SUCCESS : GetLastError();
}

ErrorCode CFileHandle::Size(std::uint64_t& size) const {
  size = 0;
  if (m_fd == kNoFile) return ERROR_INVALID_HANDLE;
  LARGE_INTEGER value{};
  if (!GetFileSizeEx(ToHandle(m_fd), &value)) return GetLastError();
  size = static_cast<std::uint64_t>(value.QuadPart);
  return ERROR_SUCCESS;
}

// Windows reads ahead by itself for a file read from start to end; there is nothing to advise.
void CFileHandle::AdviseSequential() {}

bool IsAbsolutePath(std::u16string_view path) {
  if (path.size() >= 3 && path[1] == u':' && IsSeparator(path[2])) return true;
  return path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]);
}

bool PathExists(std::u16string_view path) {
  return !path.empty() && GetFileAttributesW(Native(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(std::u16string_view path) {
  if (path.empty()) return false;
  const DWORD attributes = GetFileAttributesW(Native(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

PathKind QueryPath(std::u16string_view path, std::uint64_t& size, ErrorCode& error) {
  size = 0;
  error = ERROR_SUCCESS;
  const NativePath native(path);
  if (path.empty() || !native.ok) return PathKind::Missing;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(native.c_str(), GetFileExInfoStandard, &data)) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return PathKind::Missing;
    error = code;
    return PathKind::File;
  }
  if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT)) != 0)
    return PathKind::Other;
  size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return PathKind::File;
}

ErrorCode CreateOneDirectory(std::u16string_view path) {
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  return CreateDirectoryW(Native(path).c_str(), nullptr) ? ERROR_SUCCESS : GetLastError();
}

ErrorCode CreateDirectoryTree(std::u16string_view path) {
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  // Every prefix that ends before a separator, then the whole path; a drive or share root is there.
  for (std::size_t i = 1; i <= path.size(); ++i) {
    if (i < path.size() && !IsSeparator(path[i])) continue;
    const std::u16string_view prefix = path.substr(0, i);
    if (prefix.size() <= 2 || (prefix.size() == 2 && prefix[1] == u':')) continue;
    const DWORD attributes = GetFileAttributesW(Native(prefix).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
      if (!CreateDirectoryW(Native(prefix).c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return GetLastError();
    } else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
      return i == path.size() ? ERROR_ALREADY_EXISTS : ERROR_PATH_NOT_FOUND;
    }
  }
  return ERROR_SUCCESS;
}

ErrorCode GetFileSizeOf(std::u16string_view path, std::uint64_t& size) {
  size = 0;
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Native(path).c_str(), GetFileExInfoStandard, &data)) return GetLastError();
  if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return ERROR_ACCESS_DENIED;
  size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  return ERROR_SUCCESS;
}

ErrorCode WriteFileAtomically(std::u16string_view path, std::string_view bytes, FileAccess) {
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  const std::wstring target(path.begin(), path.end());
  const std::wstring temporary = target + L".tmp." + std::to_wstring(GetCurrentProcessId());
  // Always a new file: one left (or planted) at that name would keep its own permissions.
  const auto create = [&] {
    return CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  };
  HANDLE file = create();
  if (file == INVALID_HANDLE_VALUE && GetLastError() == ERROR_FILE_EXISTS && DeleteFileW(temporary.c_str()))
    file = create();
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  ErrorCode code = ERROR_SUCCESS;
  DWORD written = 0;
  if (!bytes.empty() && (!WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
                         written != bytes.size()))
    code = GetLastError() != 0 ? GetLastError() : ERROR_DISK_FULL;
  if (code == ERROR_SUCCESS && !FlushFileBuffers(file)) code = GetLastError();
  CloseHandle(file);
  if (code == ERROR_SUCCESS && !MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING))
    code = GetLastError();
  if (code != ERROR_SUCCESS) DeleteFileW(temporary.c_str());
  return code;
}

ErrorCode ReplaceFileWith(std::u16string_view target, std::u16string_view source) {
  return MoveFileExW(Native(source).c_str(), Native(target).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
             ? ERROR_SUCCESS
             : GetLastError();
}

ErrorCode RemoveFile(std::u16string_view path) {
  return DeleteFileW(Native(path).c_str()) ? ERROR_SUCCESS : GetLastError();
}

bool FolderHasEntries(std::u16string_view path) {
  std::wstring pattern(path.begin(), path.end());
  if (!pattern.empty() && pattern.back() != L'\\') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW data{};
  const HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return false;
  bool any = false;
  do {
    const std::wstring_view name(data.cFileName);
    if (name != L"." && name != L"..") any = true;
  } while (!any && FindNextFileW(search, &data));
  FindClose(search);
  return any;
}

bool IsSamePath(std::u16string_view a, std::u16string_view b) {
  return CompareStringOrdinal(reinterpret_cast<const wchar_t*>(a.data()), static_cast<int>(a.size()),
                              reinterpret_cast<const wchar_t*>(b.data()), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

std::uint64_t FreeBytesOfFileSystem(std::u16string_view path) {
  // A drive path ("C:\\...") or a network path ("\\\\server\\share\\..."); its root is the drive's or the share's.
  std::size_t rootLength = 0;
  if (path.size() >= 2 && path[1] == u':') {
    rootLength = 3;
  } else if (path.size() > 2 && path[0] == u'\\' && path[1] == u'\\') {
    const std::size_t server = path.find(u'\\', 2);
    if (server == std::u16string_view::npos) return 0;
    const std::size_t share = path.find(u'\\', server + 1);
    rootLength = share == std::u16string_view::npos ? path.size() + 1 : share + 1;
  } else {
    return 0;
  }
  // The nearest folder that exists answers for a folder not made yet; the bytes are those the user
  // may write (quotas counted), as a download needs.
  std::u16string folder(path);
  for (;;) {
    std::u16string query = folder;
    if (query.back() != u'\\') query += u'\\';  // a share's root is named with its final backslash
    ULARGE_INTEGER available{}, total{}, free{};
    if (GetDiskFreeSpaceExW(Native(query).c_str(), &available, &total, &free)) return available.QuadPart;
    const std::size_t cut = folder.find_last_of(u"\\/");
    if (cut == std::u16string::npos || folder.size() <= rootLength) return 0;
    folder.resize(std::max(cut, rootLength - 1));
  }
}

} // namespace platform
