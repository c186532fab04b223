#pragma once
// Files that are no regular files, where the system has them.
#include <filesystem>

namespace testsupport {

// True where the file system holds FIFOs (not on Windows).
bool SystemHasFifos();
bool MakeFifo(const std::filesystem::path& path);

} // namespace testsupport
