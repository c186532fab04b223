#pragma once
// Test content: reproducible bytes, and their digest in the file list's form.
#include <cstdint>
#include <string>

#include <utility>
#include <vector>

#include "blocks/BlockIndex.h"
#include "download/Md5.h"
#include "filelist/FileList.h"
#include "platform/Utf.h"
#include "support/TempDir.h"

namespace testsupport {

// size bytes that differ with seed and look random enough for a transfer.
inline std::string Pattern(std::size_t size, unsigned seed = 1) {
  std::string bytes(size, '\0');
  std::uint32_t x = seed * 2654435761u + 1;
  for (char& c : bytes) {
    x = x * 1664525u + 1013904223u;
    c = static_cast<char>(x >> 24);
  }
  return bytes;
}

inline std::string Md5Of(const std::string& bytes) {
  download::CMd5 md5;
  md5.Update(bytes.data(), bytes.size());
  return platform::NarrowUtf8(md5.Finish());
}

// A list over named contents, served from base.
inline filelist::CFileList MakeList(const std::string& base, const std::vector<std::pair<std::string, std::string>>& files) {
  filelist::CFileList list;
  list.m_strVersion = "2017.12.27.1";
  list.m_strURL = base;
  for (const auto& [name, bytes] : files) {
    filelist::FileInfo info;
    info.Name = name;
    info.Size = bytes.size();
    info.CheckSum = Md5Of(bytes);
    list.m_nTotalSize += info.Size;
    list.m_vecFileInfo.push_back(info);
  }
  list.m_nTotalCount = static_cast<std::int32_t>(list.m_vecFileInfo.size());
  return list;
}

// The block index of the bytes as the publisher stores it.
inline std::string BlockIndexBytes(const std::string& bytes, std::uint32_t blockSize) {
  TempDir dir;
  WriteBytes(dir / "file", bytes);
  blocks::CBlockIndex index;
  if (blocks::ComputeBlockIndex(platform::WidenUtf8((dir / "file").u8string()), blockSize, index) != 0) return {};
  return index.Serialize();
}

// What a list entry says of its index, stored below ".blocks/" as the publisher's tool stores it.
inline filelist::BlockIndexInfo BlockIndexEntry(const std::string& name, const std::string& indexBytes) {
  return {".blocks/" + name + ".blocks", indexBytes.size(), Md5Of(indexBytes)};
}

} // namespace testsupport
