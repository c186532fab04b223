#include "core/SystemQueries.h"

#include "platform/Files.h"
#include "platform/Folders.h"

namespace core {

std::uint64_t GetDiskFreeBytes(std::u16string_view path) { return platform::FreeBytesOfFileSystem(path); }

bool GetRoamingAppDataFolder(std::u16string& out) { return platform::GetStateFolder(out); }

bool GetProgramFilesFolder(std::u16string& out) { return platform::GetProgramFilesFolder(out); }

std::u16string GetDefaultInstallFolder() { return platform::DefaultInstallFolder(); }

bool IsVistaOrLater() { return true; }

bool IsWow64() { return platform::Is32BitProcessOn64BitSystem(); }

} // namespace core
