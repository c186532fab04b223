#include "filelist/FileList.h"

#include <json/json.h>
#include <memory>

namespace filelist {

namespace {

// A text member: missing or null reads as empty; any other non-text type is refused.
bool ReadText(const Json::Value& object, const char* key, std::string& out) {
  const Json::Value& value = object[key];
  if (value.isNull()) {
    out.clear();
    return true;
  }
  if (!value.isString()) return false;
  out = value.asString();
  return true;
}

// A byte count: a non-negative integer below 2^64. jsoncpp also calls an integral double such as
// 5.0 an unsigned integer, which reads exactly.
bool ReadSize(const Json::Value& object, const char* key, std::uint64_t& out) {
  const Json::Value& value = object[key];
  if (value.isNull()) {
    out = 0;
    return true;
  }
  if (!value.isUInt64()) return false;
  out = value.asUInt64();
  return true;
}

bool ReadCount(const Json::Value& object, const char* key, std::int32_t& out) {
  const Json::Value& value = object[key];
  if (value.isNull()) {
    out = 0;
    return true;
  }
  if (!value.isInt()) return false;
  out = value.asInt();
  return true;
}

} // namespace

void CFileList::Serialize(Json::Value& root) const {
  root["Version"] = m_strVersion;
  root["URL"] = m_strURL;
  if (!m_vecMirrors.empty()) {
    Json::Value mirrors(Json::arrayValue);
    for (const std::string& mirror : m_vecMirrors) mirrors.append(mirror);
    root["Mirrors"] = mirrors;
  }
  root["TotalCount"] = m_nTotalCount;
  root["TotalSize"] = Json::UInt64(m_nTotalSize);
  if (!m_strSigned.empty()) root["Signed"] = m_strSigned;
  if (!m_strExpires.empty()) root["Expires"] = m_strExpires;
  Json::Value entries(Json::arrayValue);
  for (const FileInfo& info : m_vecFileInfo) {
    Json::Value entry(Json::objectValue);
    entry["Name"] = info.Name;
    entry["Size"] = Json::UInt64(info.Size);
    entry["CheckSum"] = info.CheckSum;
    if (!info.Blocks.Name.empty()) {
      Json::Value blocks(Json::objectValue);
      blocks["Name"] = info.Blocks.Name;
      blocks["Size"] = Json::UInt64(info.Blocks.Size);
      blocks["CheckSum"] = info.Blocks.CheckSum;
      entry["Blocks"] = blocks;
    }
    entries.append(entry);
  }
  root["FileList"] = entries;
}

bool CFileList::Deserialize(Json::Value& root) {
  // A null root is an empty document; an array or a plain value is not a file list.
  if (!root.isNull() && !root.isObject()) return false;
  const Json::Value& document = root;
  CFileList read;
  if (!ReadText(document, "Version", read.m_strVersion) || !ReadText(document, "URL", read.m_strURL) ||
      !ReadCount(document, "TotalCount", read.m_nTotalCount) ||
      !ReadSize(document, "TotalSize", read.m_nTotalSize))
    return false;
  // Mirrors, when named, are a list of texts: anything else is a list of the wrong shape.
  if (const Json::Value& mirrors = document["Mirrors"]; !mirrors.isNull()) {
    if (!mirrors.isArray()) return false;
    for (Json::ArrayIndex i = 0; i < mirrors.size(); ++i) {
      if (!mirrors[i].isString()) return false;
      read.m_vecMirrors.push_back(mirrors[i].asString());
    }
  }
  const Json::Value& entries = document["FileList"];
  if (entries.isArray()) {
    for (Json::ArrayIndex i = 0; i < entries.size(); ++i) {
      const Json::Value& element = entries[i];
      if (!element.isObject()) continue;  // not an entry: skipped without a trace
      FileInfo info;
      if (!ReadText(element, "Name", info.Name) || !ReadSize(element, "Size", info.Size) ||
          !ReadText(element, "CheckSum", info.CheckSum))
        return false;
      // An index named without its size and digest could never be checked: the list is malformed.
      if (const Json::Value& blocks = element["Blocks"]; !blocks.isNull()) {
        if (!blocks.isObject() || !ReadText(blocks, "Name", info.Blocks.Name) ||
            !ReadSize(blocks, "Size", info.Blocks.Size) || !ReadText(blocks, "CheckSum", info.Blocks.CheckSum) ||
            info.Blocks.Name.empty() || info.Blocks.CheckSum.empty())
          return false;
      }
      read.m_vecFileInfo.push_back(std::move(info));
    }
  }
  // Only a signed list's reader looks at it, and judges it then: here it is kept whatever it is.
  for (auto [name, text] : {std::pair{"Expires", &read.m_strExpires}, std::pair{"Signed", &read.m_strSigned}}) {
    if (const Json::Value& value = document[name]; value.isString()) *text = value.asString();
    else if (!value.isNull()) *text = value.toStyledString();
  }
  m_strVersion = std::move(read.m_strVersion);
  m_strURL = std::move(read.m_strURL);
  m_vecMirrors = std::move(read.m_vecMirrors);
  m_nTotalCount = read.m_nTotalCount;
  m_nTotalSize = read.m_nTotalSize;
  m_strExpires = std::move(read.m_strExpires);
  m_strSigned = std::move(read.m_strSigned);
  // Entries already present stay; the new ones follow them.
  for (FileInfo& info : read.m_vecFileInfo) m_vecFileInfo.push_back(std::move(info));
  return true;
}

bool DeserializeJsonText(IJsonSerializable* target, const std::string& text) {
  if (target == nullptr) return false;
  try {
    Json::CharReaderBuilder builder;  // comments allowed, any root, trailing text ignored
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (!reader->parse(text.data(), text.data() + text.size(), &root, &errors)) return false;
    return target->Deserialize(root);
  } catch (...) {
    // Out of memory or a conversion the checks above did not foresee: the document is refused.
    return false;
  }
}

std::string SerializeJsonText(const IJsonSerializable& source) {
  Json::Value root(Json::objectValue);
  source.Serialize(root);
  Json::StreamWriterBuilder builder;
  builder["indentation"] = "  ";
  return Json::writeString(builder, root) + "\n";
}

} // namespace filelist
