// The language of the user interface as a POSIX session sets it (LC_ALL, LC_MESSAGES, LANG).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "core/StringTable.h"
#include "platform/Utf.h"

namespace {

std::string Narrow(const std::u16string& s) { return platform::NarrowUtf8(s); }

// Sets the language variables for one test and puts them back afterwards.
class LocaleScope {
 public:
  explicit LocaleScope(const char* lang) {
    for (const char* name : kNames) {
      const char* old = std::getenv(name);
      m_saved.emplace_back(name, old ? std::string(old) : std::string("\x01"));
      unsetenv(name);
    }
    setenv("LANG", lang, 1);
  }
  ~LocaleScope() {
    for (const auto& [name, value] : m_saved) {
      if (value == "\x01") unsetenv(name);
      else setenv(name, value.c_str(), 1);
    }
  }

 private:
  static constexpr const char* kNames[] = {"LC_ALL", "LC_MESSAGES", "LANG"};
  std::vector<std::pair<const char*, std::string>> m_saved;
};

TEST(StringTable, LoadResStringIsEnglishOnEverySystem) {
  LocaleScope korean("ko_KR.UTF-8");
  EXPECT_EQ(Narrow(core::LoadResString(core::IDS_INVALID_FILE_LIST)), "Invalid File List.");
  EXPECT_EQ(Narrow(core::LoadResString(core::IDS_CANNOT_REACH_SERVER, 404u)),
            "Currently you are not able to reach the server. (404)");
  EXPECT_EQ(Narrow(core::LoadResString(core::IDS_PREVIOUS_FOLDER, u"/home/p/VALDRIS")),
            "Previously used Download Folder is found.\n\n/home/p/VALDRIS\n\nSelect the folder as Download Folder?");
  EXPECT_EQ(Narrow(core::LoadResString(core::IDS_NEED_FREE_SPACE, u"1.00 GB", u"12.50 MB")),
            "You need at least 1.00 GB free space to proceed.\nFree Space: 12.50 MB");
  EXPECT_TRUE(core::LoadResString(999).empty());
}

TEST(StringTable, AboutItemFollowsTheInterfaceLanguage) {
  {
    LocaleScope korean("ko_KR.UTF-8");
    EXPECT_EQ(Narrow(core::LoadUiString(core::IDS_ABOUTBOX)), "Mervo_Downloader 정보(&A)...");
  }
  {
    LocaleScope german("de_DE.UTF-8");
    EXPECT_EQ(Narrow(core::LoadUiString(core::IDS_ABOUTBOX)), "Mervo_Downloader Information(&A)...");
  }
}

} // namespace
