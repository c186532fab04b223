#pragma once
// The install folder's memory: the settings value "InstallPath" that remembers the folder of an
// unfinished download, and the test a folder must pass before a download starts.
#include <string>
#include <string_view>

#include "platform/SettingsStore.h"

namespace controller {

inline constexpr std::u16string_view kVendorKey = u"SOFTWARE\\Mervolink\\VALDRIS";
inline constexpr std::u16string_view kInstallPathValue = u"InstallPath";

std::u16string GetDefaultInstallFolder();
// True and the saved folder, or false (a failed read is logged).
bool GetSavedInstallPath(const platform::CSettingsStore& store, std::u16string& out);
void SaveInstallPath(const platform::CSettingsStore& store, std::u16string_view folder);
// Removes the product's key with everything below it, and the vendor's key when that leaves it empty.
void DeleteVendorKey(const platform::CSettingsStore& store);
// An empty or missing folder, or the remembered folder of an unfinished download.
bool IsUsableInstallFolder(const platform::CSettingsStore& store, std::u16string_view folder);

} // namespace controller
