// The settings store and the single-instance lock, the same on every system: a folder of files or
// the registry, a file lock or a named mutex.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "platform/Files.h"
#include "platform/SettingsStore.h"
#include "platform/SingleInstance.h"
#include "platform/Utf.h"
#include "support/Environment.h"
#include "support/TempDir.h"

namespace {

using namespace platform;

std::string Unique() {
  std::random_device random;
  return std::to_string(random()) + std::to_string(random());
}

TEST(SettingsStore, KeysValuesAndTheirLimits) {
  testsupport::TempDir folder;
  const bool registry = testsupport::kIsWindows;
  // A private place: a folder here, a key of its own in the registry on Windows.
  const std::u16string base = registry ? WidenUtf8("Software\\ValdrisTests\\" + Unique()) : folder.wide();
  const CSettingsStore store(base);
  const std::u16string key = u"SOFTWARE\\Mervolink\\VALDRIS";
  EXPECT_NE(store.OpenKey(key), ERROR_SUCCESS);
  std::u16string value = u"unchanged";
  EXPECT_NE(store.QueryString(key, u"InstallPath", value), ERROR_SUCCESS);
  ASSERT_EQ(store.CreateKey(key), ERROR_SUCCESS);
  EXPECT_EQ(store.OpenKey(key), ERROR_SUCCESS);
  ASSERT_EQ(store.SetString(key, u"InstallPath", u"C:\\게임\\VALDRIS"), ERROR_SUCCESS);
  ASSERT_EQ(store.QueryString(key, u"InstallPath", value), ERROR_SUCCESS);
  EXPECT_EQ(value, u"C:\\게임\\VALDRIS");
  EXPECT_EQ(store.QueryString(key, u"InstallPath", value, 5), ERROR_MORE_DATA) << "longer than asked for";
  // A key is deleted only when it holds neither keys nor values.
  EXPECT_EQ(store.DeleteKeyIfEmpty(u"SOFTWARE", u"Mervolink"), ERROR_DIR_NOT_EMPTY) << "it holds a key";
  EXPECT_EQ(store.DeleteKeyIfEmpty(u"SOFTWARE\\Mervolink", u"VALDRIS"), ERROR_DIR_NOT_EMPTY) << "it holds a value";
  ASSERT_EQ(store.CreateKey(u"SOFTWARE\\Mervolink\\Empty"), ERROR_SUCCESS);
  EXPECT_EQ(store.DeleteKeyIfEmpty(u"SOFTWARE\\Mervolink", u"Empty"), ERROR_SUCCESS);
  EXPECT_NE(store.OpenKey(u"SOFTWARE\\Mervolink\\Empty"), ERROR_SUCCESS);
  EXPECT_EQ(store.OpenKey(key), ERROR_SUCCESS);
  ASSERT_EQ(store.DeleteTree(u"SOFTWARE", u"Mervolink"), ERROR_SUCCESS);
  EXPECT_NE(store.OpenKey(key), ERROR_SUCCESS);
  if (registry) store.DeleteTree(u"", u"");  // the test's own key
}

TEST(SingleInstance, OneHolderAtATime) {
  const std::string name = "VALDRIS_TEST_MUTEX_" + Unique();
  CSingleInstanceLock first, second;
  ASSERT_EQ(first.Acquire(name), ERROR_SUCCESS);
  EXPECT_EQ(second.Acquire(name), ERROR_ALREADY_EXISTS);
  first.Release();
  EXPECT_EQ(second.Acquire(name), ERROR_SUCCESS) << "free again once the holder lets go";
}

} // namespace
