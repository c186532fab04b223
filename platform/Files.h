#pragma once
// Files and folders with the Windows-style results the rest of the system expects. Paths are wide
// text, converted to the file system's UTF-8 on a stack buffer, so no call here allocates.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/ErrorCodes.h"

namespace platform {

// The separator the system writes between folders ("\\" on Windows, which also takes "/").
#if defined(_WIN32)
constexpr char16_t kPathSeparator = u'\\';
#else
constexpr char16_t kPathSeparator = u'/';
#endif

// A path that does not depend on the current folder: "/..." here, "C:\\..." or "\\\\server\\..." on Windows.
bool IsAbsolutePath(std::u16string_view path);

enum class OpenMode {
  ReadExisting,      // read; the file must exist
  WriteAlways,       // write; an existing file keeps its bytes, a missing one is created
  WriteTruncate,     // write; an existing file is emptied, a missing one is created
  AppendAlways,      // every write lands at the end, even with other writers; created when missing
};

enum class Sharing {
  Shared,     // others may open the file as well
  ReadShared, // others may read but not write while we hold it
  Exclusive,  // nobody else may open it while we hold it
  SoleWriter, // nobody else may write or take it exclusively; plain readers may read along
};

// One open file; closed exactly once, by Close or the destructor.
class CFileHandle {
 public:
  CFileHandle() = default;
  ~CFileHandle();
  CFileHandle(CFileHandle&& other) noexcept;
  CFileHandle& operator=(CFileHandle&& other) noexcept;
  CFileHandle(const CFileHandle&) = delete;
  CFileHandle& operator=(const CFileHandle&) = delete;

  // 0 or a Windows code. Sharing is honoured between processes of this system (advisory locks).
  ErrorCode Open(std::u16string_view path, OpenMode mode, Sharing sharing = Sharing::Shared);
  void Close();
  bool IsOpen() const { return m_fd != kNoFile; }

  // Reads up to size bytes; got = 0 at the end of the file.
  ErrorCode Read(void* buffer, std::size_t size, std::size_t& got);
  // Reads up to size bytes at offset without moving the file position; got = 0 past the end.
  ErrorCode ReadAt(void* buffer, std::size_t size, std::uint64_t offset, std::size_t& got);
  // Writes all of size bytes, or fails (a full disk gives ERROR_DISK_FULL).
  ErrorCode Write(const void* buffer, std::size_t size);
  ErrorCode SeekToEnd();
  // Puts the file position at offset (the next write lands there).
  ErrorCode Seek(std::uint64_t offset);
  // Cuts or extends the file to size bytes and puts the file position there.
  ErrorCode SetSize(std::uint64_t size);
  // Waits until what was written is on the disk, so a rename after it never shows a file with holes.
  ErrorCode Flush();
  ErrorCode Size(std::uint64_t& size) const;
  // Hint that the file is read once from start to end.
  void AdviseSequential();

 private:
  static constexpr std::intptr_t kNoFile = -1;  // a file descriptor, or a Windows file handle
  std::intptr_t m_fd = kNoFile;
};

bool PathExists(std::u16string_view path);
bool IsDirectory(std::u16string_view path);
// True when the folder holds anything (a file or a folder, hidden ones too); false when it is empty,
// missing or cannot be read.
bool FolderHasEntries(std::u16string_view path);
// True when both texts name the same path as the system compares names (letter case counts on
// POSIX systems, not on Windows).
bool IsSamePath(std::u16string_view a, std::u16string_view b);
// Creates one level; ERROR_ALREADY_EXISTS when something is there already.
ErrorCode CreateOneDirectory(std::u16string_view path);
// Creates the folder and every missing parent; 0 when it exists as a folder afterwards.
ErrorCode CreateDirectoryTree(std::u16string_view path);
enum class PathKind { Missing, File, Other };  // Other: a folder, FIFO or device
// What stands at a path, from one query of its attributes (never by opening it); for a file also its
// size. A path whose attributes cannot be read counts as a file with `error` set.
PathKind QueryPath(std::u16string_view path, std::uint64_t& size, ErrorCode& error);
// The size from the file's attributes, never by opening it; ERROR_ACCESS_DENIED for anything but a
// regular file (a folder, a FIFO, a device).
ErrorCode GetFileSizeOf(std::u16string_view path, std::uint64_t& size);
// Who may read a file written anew: everyone, or its owner alone (private keys). On Windows a file
// takes the access of its folder either way.
enum class FileAccess { Everyone, OwnerOnly };
// Replaces the file's content as one step: the bytes go to a temporary file beside it, which is then
// renamed over it, so a reader (or a crash) sees the old content or the new, never a part.
ErrorCode WriteFileAtomically(std::u16string_view path, std::string_view bytes,
                              FileAccess access = FileAccess::Everyone);

// Renames a file over another in the same folder, as one step: a reader (or a crash) sees the old
// file or the new one.
ErrorCode ReplaceFileWith(std::u16string_view target, std::u16string_view source);
// Removes a file; ERROR_FILE_NOT_FOUND when there is none.
ErrorCode RemoveFile(std::u16string_view path);
// Free bytes of the file system holding an absolute path (the nearest existing ancestor is asked);
// 0 for a relative path or when it cannot be obtained.
std::uint64_t FreeBytesOfFileSystem(std::u16string_view path);

} // namespace platform
