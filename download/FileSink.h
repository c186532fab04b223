#pragma once
// The body sink of the program: writes an entry's file. Nobody else can write the file meanwhile
// (readers may, such as the checksum that reads along). Pieces are gathered into blocks that end on
// block boundaries of the file: a few large aligned writes cost the page cache far less than many
// small torn ones.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "net/BodySink.h"
#include "platform/Files.h"

namespace download {

class CFileSink : public net::IBodySink {
 public:
  CFileSink() = default;
  ~CFileSink() override { Close(); }
  CFileSink(const CFileSink&) = delete;
  CFileSink& operator=(const CFileSink&) = delete;

  platform::ErrorCode Open(std::u16string_view path, bool append) override;
  platform::ErrorCode OpenAt(std::u16string_view path, std::uint64_t offset) override;
  bool IsOpen() const override { return m_hFile.IsOpen(); }
  char* Room(std::size_t& room) override;
  platform::ErrorCode Commit(std::size_t n) override;
  platform::ErrorCode Close() override;
  std::uint64_t Written() const override { return m_nWritten; }

  static constexpr std::size_t kWriteBlock = 32 * 1024;

 private:
  // A new body begins at this offset of the open file.
  void StartBody(std::uint64_t start);
  // Writes the gathered bytes; they are dropped on failure, as the transfer ends there.
  platform::ErrorCode WriteGathered();

  platform::CFileHandle m_hFile;
  std::vector<char> m_WriteBlock;
  std::size_t m_nGathered = 0;
  std::uint64_t m_nFileStart = 0;  // where this body begins in the file
  std::uint64_t m_nWritten = 0;
};

} // namespace download
