#include "download/FileSink.h"

namespace download {

using namespace platform;

ErrorCode CFileSink::Open(std::u16string_view path, bool append) {
  Close();
  const ErrorCode code =
      m_hFile.Open(path, append ? OpenMode::WriteAlways : OpenMode::WriteTruncate, Sharing::SoleWriter);
  if (code != ERROR_SUCCESS) return code;
  std::uint64_t end = 0;
  if (append) {
    ErrorCode seek = m_hFile.SeekToEnd();
    if (seek == ERROR_SUCCESS) seek = m_hFile.Size(end);
    if (seek != ERROR_SUCCESS) {
      m_hFile.Close();
      return seek;
    }
  }
  StartBody(end);
  return ERROR_SUCCESS;
}

void CFileSink::StartBody(std::uint64_t start) {
  m_WriteBlock.resize(kWriteBlock);
  m_nGathered = 0;
  m_nFileStart = start;
  m_nWritten = 0;
}

ErrorCode CFileSink::OpenAt(std::u16string_view path, std::uint64_t offset) {
  Close();
  // Each segment's writer has its own part of the file: they share it.
  ErrorCode code = m_hFile.Open(path, OpenMode::WriteAlways, Sharing::Shared);
  if (code == ERROR_SUCCESS) code = m_hFile.Seek(offset);
  if (code != ERROR_SUCCESS) {
    m_hFile.Close();
    return code;
  }
  StartBody(offset);
  return ERROR_SUCCESS;
}

char* CFileSink::Room(std::size_t& room) {
  // Never past the next block boundary, so each write but a resumed file's first is whole and aligned.
  room = static_cast<std::size_t>(kWriteBlock - (m_nFileStart + m_nWritten + m_nGathered) % kWriteBlock);
  return m_WriteBlock.data() + m_nGathered;
}

ErrorCode CFileSink::Commit(std::size_t n) {
  std::size_t room = 0;
  Room(room);
  m_nGathered += n;
  return n == 0 || n == room ? WriteGathered() : ERROR_SUCCESS;
}

ErrorCode CFileSink::Close() {
  // What was read is a prefix of the body: on disk it stays resumable, so it is kept on every path.
  const ErrorCode code = m_hFile.IsOpen() ? WriteGathered() : ERROR_SUCCESS;
  m_hFile.Close();
  return code;
}

ErrorCode CFileSink::WriteGathered() {
  if (m_nGathered == 0) return ERROR_SUCCESS;
  const ErrorCode code = m_hFile.Write(m_WriteBlock.data(), m_nGathered);
  if (code == ERROR_SUCCESS) m_nWritten += m_nGathered;
  m_nGathered = 0;
  return code;
}

} // namespace download
