#include <gtest/gtest.h>

#include <string>

#include "core/StringTable.h"

namespace {

TEST(StringTable, EveryIdHasBothLanguagesAndUsableFormats) {
  core::SetStrictFormatChecks(false);  // each entry is tried with arguments of both kinds
  for (unsigned id = 101; id <= core::IDS_LAST; ++id) {
    EXPECT_FALSE(core::GetStringEntry(id, core::Language::English).empty()) << id;
    EXPECT_FALSE(core::GetStringEntry(id, core::Language::Korean).empty()) << id;
    // Filling with the arguments the callers pass must never produce a mismatch marker.
    const std::u16string filled = core::LoadResString(id, u"A", u"B");
    const std::u16string coded = core::LoadResString(id, 404u);
    EXPECT_TRUE(filled.find(u"<?>") == std::u16string::npos || coded.find(u"<?>") == std::u16string::npos)
        << id;
  }
  core::SetStrictFormatChecks(true);
  EXPECT_TRUE(core::GetStringEntry(100, core::Language::English).empty());
  EXPECT_TRUE(core::GetStringEntry(core::IDS_LAST + 1, core::Language::English).empty());
}

} // namespace
