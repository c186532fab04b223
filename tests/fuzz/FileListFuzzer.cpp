// Any bytes as a file-list document: the parser never crashes, never throws, and a document it
// refuses leaves the list it was given exactly as it was.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "filelist/FileList.h"

namespace {

bool Same(const filelist::CFileList& a, const filelist::CFileList& b) {
  if (a.m_strVersion != b.m_strVersion || a.m_strURL != b.m_strURL || a.m_nTotalCount != b.m_nTotalCount ||
      a.m_nTotalSize != b.m_nTotalSize || a.m_strExpires != b.m_strExpires || a.m_strSigned != b.m_strSigned ||
      a.m_vecFileInfo.size() != b.m_vecFileInfo.size())
    return false;
  for (std::size_t i = 0; i < a.m_vecFileInfo.size(); ++i) {
    const auto& x = a.m_vecFileInfo[i];
    const auto& y = b.m_vecFileInfo[i];
    if (x.Name != y.Name || x.Size != y.Size || x.CheckSum != y.CheckSum) return false;
  }
  return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  filelist::CFileList list;
  list.m_strVersion = "2017.12.27.1";
  list.m_strURL = "http://127.0.0.1/";
  list.m_nTotalCount = 1;
  list.m_nTotalSize = 5;
  list.m_vecFileInfo.push_back({"Data/a.pak", 5, "0123456789ABCDEF0123456789ABCDEF", {}});
  const filelist::CFileList before = list;
  if (!filelist::DeserializeJsonText(&list, text)) {
    if (!Same(list, before)) std::abort();  // a refused document changed the list
    return 0;
  }
  // Accepted: the entries already held stay first.
  if (list.m_vecFileInfo.empty() || list.m_vecFileInfo.front().Name != "Data/a.pak") std::abort();
  return 0;
}
