#include "support/SpecialFiles.h"

#include <sys/stat.h>

namespace testsupport {

bool SystemHasFifos() { return true; }

bool MakeFifo(const std::filesystem::path& path) { return mkfifo(path.c_str(), 0644) == 0; }

} // namespace testsupport
