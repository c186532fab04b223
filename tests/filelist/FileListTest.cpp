#include <gtest/gtest.h>

#include <json/json.h>
#include <string>

#include "filelist/FileList.h"

namespace {

using filelist::CFileList;
using filelist::DeserializeJsonText;

TEST(FileList, DocumentsThatParse) {
  struct Row {
    const char* name;
    const char* text;
    std::size_t entries;
  };
  const Row rows[] = {
      {"empty object", "{}", 0},
      {"null", "null", 0},
      {"comments anywhere", "// list\n/* a */ { \"FileList\" : [ /* one */ {\"Name\": \"a\"} ] } // end", 1},
      {"FileList not an array", R"({"FileList": {"Name": "a"}})", 0},
      {"non-objects skipped", R"({"FileList": [{"Name": "a"}, 5, "x", null, {"Name": "c"}]})", 2},
      {"unknown members ignored", R"({"Extra": [1, 2], "FileList": [{"Name": "a", "Other": {}}]})", 1},
  };
  for (const Row& row : rows) {
    CFileList list;
    EXPECT_TRUE(DeserializeJsonText(&list, row.text)) << row.name;
    EXPECT_EQ(list.m_vecFileInfo.size(), row.entries) << row.name;
  }
}

TEST(FileList, MembersAndEntriesAreReadExactly) {
  CFileList list;
  ASSERT_TRUE(DeserializeJsonText(&list, R"({
    "Version": "2017.12.27.1", "URL": "http://host/files/",
    "TotalCount": 3, "TotalSize": 18446744073709551615,
    "FileList": [
      {"Name": "Data/a.pak", "Size": 5000000000, "CheckSum": "0123456789ABCDEF0123456789ABCDEF"},
      7,
      {"Name": "b.bin", "CheckSum": "D41D8CD98F00B204E9800998ECF8427E"},
      {"Name": "\u00e9t\u00e9.txt", "Size": 4}
    ]})"));
  EXPECT_EQ(list.m_strVersion, "2017.12.27.1");
  EXPECT_EQ(list.m_strURL, "http://host/files/");
  EXPECT_EQ(list.m_nTotalCount, 3);
  EXPECT_EQ(list.m_nTotalSize, 18446744073709551615ULL);
  ASSERT_EQ(list.m_vecFileInfo.size(), 3u);
  EXPECT_EQ(list.m_vecFileInfo[0].Name, "Data/a.pak");
  EXPECT_EQ(list.m_vecFileInfo[0].Size, 5000000000ULL) << "sizes above 2^32 are exact";
  EXPECT_EQ(list.m_vecFileInfo[1].Name, "b.bin");
  EXPECT_EQ(list.m_vecFileInfo[1].Size, 0u) << "no Size reads as 0";
  EXPECT_EQ(list.m_vecFileInfo[2].Name, "\xc3\xa9t\xc3\xa9.txt") << "escapes become UTF-8 bytes";
  EXPECT_EQ(list.m_vecFileInfo[2].CheckSum, "");
}

TEST(FileList, RefusedDocumentsLeaveTheListEmpty) {
  struct Row {
    const char* name;
    const char* text;
  };
  const Row rows[] = {
      {"syntax error", R"({"Version": "1")"},
      {"not JSON", "<html>404</html>"},
      {"array root", R"([{"Name": "a"}])"},
      {"number root", "42"},
      {"object as Version", R"({"Version": {}})"},
      {"number as URL", R"({"URL": 5})"},
      {"negative Size", R"({"FileList": [{"Name": "a", "Size": -1}]})"},
      {"textual Size", R"({"FileList": [{"Name": "a", "Size": "12"}]})"},
      {"fractional Size", R"({"FileList": [{"Name": "a", "Size": 1.5}]})"},
      {"array as Name", R"({"FileList": [{"Name": ["a"]}]})"},
      {"TotalCount beyond 32 bits", R"({"TotalCount": 4294967296})"},
      {"negative TotalSize", R"({"TotalSize": -3})"},
      {"Size beyond 64 bits", R"({"FileList": [{"Name": "a", "Size": 18446744073709551616}]})"},
      {"text as Mirrors", R"({"Mirrors": "http://b/"})"},
      {"number among Mirrors", R"({"Mirrors": ["http://b/", 7]})"},
      {"object among Mirrors", R"({"Mirrors": [{"URL": "http://b/"}]})"},
  };
  for (const Row& row : rows) {
    CFileList list;
    EXPECT_FALSE(DeserializeJsonText(&list, row.text)) << row.name;
    EXPECT_TRUE(list.m_strVersion.empty() && list.m_strURL.empty() && list.m_nTotalCount == 0 &&
                list.m_nTotalSize == 0 && list.m_vecFileInfo.empty())
        << row.name;
  }
  EXPECT_FALSE(DeserializeJsonText(nullptr, "{}"));
}

TEST(FileList, NewEntriesFollowExistingOnes) {
  CFileList list;
  ASSERT_TRUE(DeserializeJsonText(&list, R"({"FileList": [{"Name": "a"}]})"));
  ASSERT_TRUE(DeserializeJsonText(&list, R"({"FileList": [{"Name": "b"}]})"));
  ASSERT_EQ(list.m_vecFileInfo.size(), 2u);
  EXPECT_EQ(list.m_vecFileInfo[1].Name, "b");
}

TEST(FileList, LargeListRoundTripsThroughSerialize) {
  CFileList original;
  original.m_strVersion = "2017.12.27.1";
  original.m_strURL = "http://127.0.0.1:8710/full/valdris/REAL/";
  for (int i = 0; i < 5000; ++i) {
    filelist::FileInfo info;
    info.Name = "Data/part" + std::to_string(i) + ".pak";
    info.Size = 4294967296ULL + static_cast<unsigned>(i);
    info.CheckSum = "0123456789ABCDEF0123456789ABCDEF";
    original.m_nTotalSize += info.Size;
    original.m_vecFileInfo.push_back(info);
  }
  original.m_nTotalCount = 5000;
  original.m_vecMirrors = {"http://b.example/full/", "https://c.example/full/"};
  const std::string text = filelist::SerializeJsonText(original);
  EXPECT_GT(text.size(), 400000u);
  CFileList parsed;
  ASSERT_TRUE(DeserializeJsonText(&parsed, text));
  EXPECT_EQ(parsed.m_nTotalCount, 5000);
  EXPECT_EQ(parsed.m_nTotalSize, original.m_nTotalSize);
  ASSERT_EQ(parsed.m_vecFileInfo.size(), 5000u);
  EXPECT_EQ(parsed.m_vecFileInfo[4999].Name, "Data/part4999.pak");
  EXPECT_EQ(parsed.m_vecFileInfo[4999].Size, 4294967296ULL + 4999);
  EXPECT_EQ(parsed.m_vecMirrors, original.m_vecMirrors);
}

} // namespace
