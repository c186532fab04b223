#include "controller/InstallFolder.h"

#include "core/Log.h"
#include "core/SystemQueries.h"
#include "platform/Files.h"

namespace controller {

using core::LOG_ERROR;
using core::theLog;

std::u16string GetDefaultInstallFolder() { return core::GetDefaultInstallFolder(); }

bool GetSavedInstallPath(const platform::CSettingsStore& store, std::u16string& out) {
  if (store.OpenKey(kVendorKey) != platform::ERROR_SUCCESS) return false;
  std::u16string value;
  if (const auto code = store.QueryString(kVendorKey, kInstallPathValue, value); code != platform::ERROR_SUCCESS) {
    theLog.Write(LOG_ERROR, u"registry get value is failed - get path (%ld)", code);
    return false;
  }
  out = std::move(value);
  return true;
}

void SaveInstallPath(const platform::CSettingsStore& store, std::u16string_view folder) {
  if (store.OpenKey(kVendorKey) != platform::ERROR_SUCCESS) {
    if (const auto code = store.CreateKey(kVendorKey); code != platform::ERROR_SUCCESS) {
      theLog.Write(LOG_ERROR, u"registry create is failed - (%ld)", code);
      return;
    }
  }
  if (const auto code = store.SetString(kVendorKey, kInstallPathValue, folder); code != platform::ERROR_SUCCESS)
    theLog.Write(LOG_ERROR, u"registry set value is failed - (%ld)", code);
}

void DeleteVendorKey(const platform::CSettingsStore& store) {
  if (const auto code = store.OpenKey(u"SOFTWARE"); code != platform::ERROR_SUCCESS) {
    theLog.Write(LOG_ERROR, u"registry open is failed - (%ld)", code);
    return;
  }
  // The vendor's key may hold other products' settings: only this product's key goes, and the
  // vendor's with it when nothing else is left in it.
  if (const auto code = store.DeleteTree(u"SOFTWARE\\Mervolink", u"VALDRIS"); code != platform::ERROR_SUCCESS) {
    theLog.Write(LOG_ERROR, u"registry recursive delete key is failed - (%ld)", code);
    return;
  }
  store.DeleteKeyIfEmpty(u"SOFTWARE", u"Mervolink");
}

bool IsUsableInstallFolder(const platform::CSettingsStore& store, std::u16string_view folder) {
  std::u16string saved;
  if (GetSavedInstallPath(store, saved) && platform::IsSamePath(saved, folder)) return true;
  return !platform::FolderHasEntries(folder);
}

} // namespace controller
