#pragma once
// Questions about the machine, answered without state from any thread.
#include <cstdint>
#include <string>
#include <string_view>

namespace core {

// Free bytes of the file system that holds the folder (which need not exist); 0 when unknown or
// for a relative path.
std::uint64_t GetDiskFreeBytes(std::u16string_view path);

// The base folder of the log (the per-user state folder). False leaves out unchanged.
bool GetRoamingAppDataFolder(std::u16string& out);

// The first folder the folder browser opens on (the user's home folder). False leaves out unchanged.
bool GetProgramFilesFolder(std::u16string& out);

// The install folder proposed when none was used before: DOWNLOAD/VALDRIS in the home folder.
std::u16string GetDefaultInstallFolder();

// Kept for callers that ask; every supported system is "new enough".
bool IsVistaOrLater();

// True for a 32-bit process on a 64-bit system.
bool IsWow64();

} // namespace core
