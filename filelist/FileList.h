#pragma once
// The file list (manifest): which files make up the game client, their sizes and MD5 digests.
#include <cstdint>
#include <string>
#include <vector>

namespace Json {
class Value;
}

namespace filelist {

// "Blocks": where the file's block index is, so that a changed file can be patched from its old
// version instead of fetched whole. The index is fetched like a file and checked against its digest.
struct BlockIndexInfo {
  std::string Name;      // relative to the list's URL, as file names are
  std::uint64_t Size = 0;
  std::string CheckSum;  // its MD5, as a file's
};

struct FileInfo {
  std::string Name;      // relative path, "/" between folders and the file name
  std::uint64_t Size = 0;
  std::string CheckSum;  // 32 upper-case hexadecimal digits
  BlockIndexInfo Blocks; // Name empty: the file has no index
};

class IJsonSerializable {
 public:
  virtual ~IJsonSerializable() = default;
  virtual void Serialize(Json::Value& root) const = 0;
  // Fills the object from root. A document of the wrong shape (a member of a type that cannot be
  // read as the one expected) returns false and leaves the object as it was.
  virtual bool Deserialize(Json::Value& root) = 0;
};

class CFileList : public IJsonSerializable {
 public:
  void Serialize(Json::Value& root) const override;
  bool Deserialize(Json::Value& root) override;

  std::string m_strVersion;
  std::string m_strURL;
  // "Mirrors": other servers' base addresses, each with the same layout as m_strURL. Kept as written;
  // whether they are usable addresses is judged where servers are chosen.
  std::vector<std::string> m_vecMirrors;
  std::int32_t m_nTotalCount = 0;
  std::uint64_t m_nTotalSize = 0;
  std::vector<FileInfo> m_vecFileInfo;
  // "Expires": the moment (UTC, ISO 8601) after which a signed list is no longer to be trusted;
  // empty when the list has none. Kept as written; a value that is not text is kept as its JSON.
  std::string m_strExpires;
  // "Signed": when the publisher signed the list (UTC, ISO 8601), so that a signed list older than one
  // already accepted can be refused. Kept as "Expires" is.
  std::string m_strSigned;
};

// Parses a JSON document (comments allowed, any root) and hands it to target. False when the text
// is not JSON or its members have the wrong types; target is then unchanged. Never throws.
bool DeserializeJsonText(IJsonSerializable* target, const std::string& text);

// The document of a serializable object, as indented JSON text.
std::string SerializeJsonText(const IJsonSerializable& source);

} // namespace filelist
